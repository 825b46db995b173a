#include "platform/linux/http_transfer.h"

#include <cstring>
#include <string_view>

#include "platform/linux/http_tls.h"

namespace vodarezazuv::net {

namespace {

using Clock = std::chrono::steady_clock;

// The exchange a callback belongs to, or nullptr when the request has moved on to a newer
// one (or was closed) and the callback's data is of no use any more.
Exchange* Current(Transfer& transfer) {
    Exchange& exchange = transfer.request->exchange;
    return exchange.generation == transfer.generation && !transfer.request->closed ? &exchange
                                                                                   : nullptr;
}

// Notices are delivered by the worker once libcurl has returned.
void QueueNotice(Transfer& transfer, std::optional<Notice> notice) {
    if (notice)
        transfer.worker->Queue(std::move(notice));
}

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

std::string_view Chomp(const char* data, size_t length) {
    std::string_view line(data, length);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.remove_suffix(1);
    return line;
}

// "HTTP/1.1 404 Not Found": the number and the reason phrase.
void ParseStatusLine(HeaderBlock& block, std::string_view line) {
    size_t space = line.find(' ');
    if (space == std::string_view::npos)
        return;
    std::string_view rest = line.substr(space + 1);
    uint32_t status = 0;
    size_t digits = 0;
    while (digits < rest.size() && digits < 3 && rest[digits] >= '0' && rest[digits] <= '9')
        status = status * 10 + static_cast<uint32_t>(rest[digits++] - '0');
    block.status = digits == 3 ? status : 0;
    std::string_view text = rest.substr(digits);
    if (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    block.statusText = std::string(text);
}

// The end of a header block. Interim answers (1xx) and a proxy's consent to a tunnel are
// not the response; a 401 or 407 that libcurl may answer with credentials is final only
// once its body comes or the exchange ends (libcurl drops the body of a challenge it
// answers).
void EndHeaderBlock(Transfer& transfer, Exchange& exchange) {
    HeaderBlock block = std::move(exchange.reading);
    exchange.reading = HeaderBlock{};
    if (exchange.connectPhase) {
        if (block.status / 100 != 2)
            exchange.proxyDeny = std::move(block);
        return;
    }
    if (block.status / 100 == 1)
        return;
    bool mayBeAnswered =
        (block.status == 401 && transfer.serverAuth) || (block.status == 407 && transfer.proxyAuth);
    exchange.response = std::move(block);
    exchange.tentativeHeaders = mayBeAnswered;
    exchange.finalHeaders = !mayBeAnswered;
}

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
    auto& transfer = *static_cast<Transfer*>(user);
    size_t length = size * count;
    std::optional<Notice> notice;
    {
        std::lock_guard lock(transfer.request->mutex);
        Exchange* exchange = Current(transfer);
        if (exchange == nullptr)
            return length;
        exchange->lastActivity = Clock::now();
        std::string_view line = Chomp(data, length);
        if (StartsWith(line, "HTTP/")) {
            exchange->reading = HeaderBlock{};
            exchange->reading.lines.emplace_back(line);
            ParseStatusLine(exchange->reading, line);
        } else if (line.empty()) {
            EndHeaderBlock(transfer, *exchange);
        } else if (exchange->reading.lines.size() < 1000) {
            exchange->reading.lines.emplace_back(line);
        }
        notice = Settle(transfer.request);
    }
    QueueNotice(transfer, std::move(notice));
    return length;
}

size_t OnBody(char* data, size_t size, size_t count, void* user) {
    auto& transfer = *static_cast<Transfer*>(user);
    size_t length = size * count;
    std::optional<Notice> notice;
    {
        std::lock_guard lock(transfer.request->mutex);
        Exchange* exchange = Current(transfer);
        if (exchange == nullptr)
            return length;
        exchange->lastActivity = Clock::now();
        if (exchange->tentativeHeaders) {
            exchange->tentativeHeaders = false;
            exchange->finalHeaders = true;
        }
        // Bounded: a full hand-over buffer pauses the transfer until the caller reads.
        if (exchange->download.size() > 0 && exchange->download.size() + length > kDownloadLimit) {
            exchange->recvPaused = true;
            notice = Settle(transfer.request);
            QueueNotice(transfer, std::move(notice));
            return CURL_WRITEFUNC_PAUSE;
        }
        exchange->download.Append(data, length);
        notice = Settle(transfer.request);
    }
    // A read that waited for these bytes completes now, not once libcurl returns: libcurl
    // may go on receiving for a megabyte first, and the reader would idle meanwhile. It is
    // the request's only outstanding call, so no earlier notice of it is still queued.
    if (notice)
        Deliver(*notice);
    return length;
}

// Moves what the pending write still holds into the upload buffer, as far as it has room.
void RefillUpload(Exchange& exchange) {
    if (exchange.pending != Pending::Write || exchange.writeLeft == 0)
        return;
    size_t room = kUploadLimit > exchange.upload.size() ? kUploadLimit - exchange.upload.size() : 0;
    size_t moved = std::min<size_t>(room, exchange.writeLeft);
    exchange.upload.Append(exchange.writeData, moved);
    exchange.writeData += moved;
    exchange.writeLeft -= static_cast<uint32_t>(moved);
}

size_t OnRequestBody(char* buffer, size_t size, size_t count, void* user) {
    auto& transfer = *static_cast<Transfer*>(user);
    size_t capacity = size * count;
    std::optional<Notice> notice;
    size_t given = 0;
    {
        std::lock_guard lock(transfer.request->mutex);
        Exchange* exchange = Current(transfer);
        if (exchange == nullptr)
            return CURL_READFUNC_ABORT;
        exchange->bodyWanted = true;
        if (!exchange->streaming) {
            given = std::min(capacity, exchange->fixedBody.size() - exchange->fixedOffset);
            std::memcpy(buffer, exchange->fixedBody.data() + exchange->fixedOffset, given);
            exchange->fixedOffset += given;
        } else {
            RefillUpload(*exchange);
            given = exchange->upload.Take(buffer, capacity);
            RefillUpload(*exchange);
            if (given == 0 && !exchange->uploadEnded) {
                exchange->sendPaused = true;
                notice = Settle(transfer.request);
                QueueNotice(transfer, std::move(notice));
                return CURL_READFUNC_PAUSE;
            }
        }
        if (given > 0)
            exchange->lastActivity = Clock::now();
        notice = Settle(transfer.request);
    }
    // A write that waited for room completes now, not once libcurl returns (see OnBody).
    if (notice)
        Deliver(*notice);
    return given;
}

// Authentication may send the body again: a body given whole can be, a streamed one not
// (libcurl then fails the exchange, and the caller sends it again).
int OnSeek(void* user, curl_off_t offset, int origin) {
    auto& transfer = *static_cast<Transfer*>(user);
    std::lock_guard lock(transfer.request->mutex);
    Exchange* exchange = Current(transfer);
    if (exchange == nullptr || exchange->streaming || origin != SEEK_SET || offset < 0 ||
        static_cast<size_t>(offset) > exchange->fixedBody.size())
        return CURL_SEEKFUNC_CANTSEEK;
    exchange->fixedOffset = static_cast<size_t>(offset);
    return CURL_SEEKFUNC_OK;
}

HeaderBlock SplitBlock(std::string_view block) {
    HeaderBlock parsed;
    while (!block.empty()) {
        size_t end = block.find('\n');
        std::string_view line =
            Chomp(block.data(), end == std::string_view::npos ? block.size() : end + 1);
        if (!line.empty())
            parsed.lines.emplace_back(line);
        block.remove_prefix(end == std::string_view::npos ? block.size() : end + 1);
    }
    return parsed;
}

// Only the request headers as they went out are of interest; they also tell a tunnel's
// CONNECT from the request itself.
int OnDebug(CURL*, curl_infotype type, char* data, size_t size, void* user) {
    if (type != CURLINFO_HEADER_OUT)
        return 0;
    auto& transfer = *static_cast<Transfer*>(user);
    std::lock_guard lock(transfer.request->mutex);
    Exchange* exchange = Current(transfer);
    if (exchange == nullptr)
        return 0;
    std::string_view block(data, size);
    exchange->connectPhase = StartsWith(block, "CONNECT ");
    if (!exchange->connectPhase)
        exchange->sent = SplitBlock(block);
    return 0;
}

Slist MakeList(const std::vector<std::string>& lines) {
    curl_slist* list = nullptr;
    for (const std::string& line : lines) {
        curl_slist* longer = curl_slist_append(list, line.c_str());
        if (longer == nullptr) {
            curl_slist_free_all(list);
            return Slist();
        }
        list = longer;
    }
    return Slist(list);
}

const char* OrNull(const std::string& text) {
    return text.empty() ? nullptr : text.c_str();
}

void SetProxy(CURL* easy, const TransferSettings& settings, Transfer& transfer) {
    // Type 0 leaves CURLOPT_PROXY unset: libcurl then reads http_proxy, https_proxy,
    // all_proxy and no_proxy itself. "" switches every proxy off.
    if (settings.accessType == kNetOpenTypeDirect)
        curl_easy_setopt(easy, CURLOPT_PROXY, "");
    else if (settings.accessType == kNetOpenTypeProxy)
        curl_easy_setopt(easy, CURLOPT_PROXY, settings.proxy.c_str());
    else
        curl_easy_setopt(easy, CURLOPT_PROXY, nullptr);
    curl_easy_setopt(easy, CURLOPT_PROXYPORT, 80L);  // a proxy without port: port 80
    curl_easy_setopt(easy, CURLOPT_PROXYTYPE, static_cast<long>(CURLPROXY_HTTP));
    curl_easy_setopt(easy, CURLOPT_NOPROXY, OrNull(settings.proxyBypass));
    transfer.proxyAuth = !settings.proxyUser.empty();
    curl_easy_setopt(easy, CURLOPT_PROXYUSERNAME,
                     transfer.proxyAuth ? settings.proxyUser.c_str() : nullptr);
    curl_easy_setopt(easy, CURLOPT_PROXYPASSWORD,
                     transfer.proxyAuth ? settings.proxyPassword.c_str() : nullptr);
    curl_easy_setopt(easy, CURLOPT_PROXYAUTH, transfer.proxyAuth ? CURLAUTH_ANY : CURLAUTH_BASIC);
    // Proxy-* lines of the caller go to the proxy only, never to the server behind it.
    curl_easy_setopt(easy, CURLOPT_HEADEROPT, CURLHEADER_SEPARATE);
    curl_easy_setopt(easy, CURLOPT_PROXYHEADER, transfer.proxyHeaders.get());
}

void SetMethod(CURL* easy, const TransferSettings& settings) {
    curl_easy_setopt(easy, CURLOPT_UPLOAD, 0L);
    curl_easy_setopt(easy, CURLOPT_NOBODY, 0L);
    curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, nullptr);
    if (settings.method == "HEAD") {
        curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
    } else if (settings.method != "GET" || settings.withBody) {
        curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, settings.method.c_str());
    }
    if (settings.withBody) {
        curl_easy_setopt(easy, CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(easy, CURLOPT_INFILESIZE_LARGE,
                         static_cast<curl_off_t>(settings.bodyLength));
    }
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION,
                     settings.http10 ? CURL_HTTP_VERSION_1_0 : CURL_HTTP_VERSION_1_1);
}

void SetCredentials(CURL* easy, const TransferSettings& settings, Transfer& transfer) {
    transfer.serverAuth = !settings.user.empty();
    curl_easy_setopt(easy, CURLOPT_USERNAME, transfer.serverAuth ? settings.user.c_str() : nullptr);
    curl_easy_setopt(easy, CURLOPT_PASSWORD,
                     transfer.serverAuth ? settings.password.c_str() : nullptr);
    curl_easy_setopt(easy, CURLOPT_HTTPAUTH, transfer.serverAuth ? CURLAUTH_ANY : CURLAUTH_BASIC);
}

void SetTls(CURL* easy, const TransferSettings& settings, Transfer& transfer) {
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
    // With accepted certificates the TLS checks decide on the name themselves.
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, settings.pinned ? 0L : 2L);
    if (!settings.trustedCaFile.empty())
        curl_easy_setopt(easy, CURLOPT_CAINFO, settings.trustedCaFile.c_str());
    transfer.hasClientCert = !settings.clientCertPath.empty();
    curl_easy_setopt(easy, CURLOPT_SSLCERT, OrNull(settings.clientCertPath));
    curl_easy_setopt(easy, CURLOPT_SSLCERTTYPE, settings.clientCertIsPkcs12 ? "P12" : "PEM");
    curl_easy_setopt(easy, CURLOPT_KEYPASSWD, transfer.hasClientCert ? "" : nullptr);
    if (transfer.tls) {
        transfer.clientCertRequestsAtStart = transfer.tls->ClientCertRequests();
        InstallTlsChecks(easy, transfer.tls);
    }
}

void SetCallbacks(CURL* easy, Transfer& transfer) {
    curl_easy_setopt(easy, CURLOPT_PRIVATE, &transfer);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, OnHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, &transfer);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, OnBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(easy, CURLOPT_READFUNCTION, OnRequestBody);
    curl_easy_setopt(easy, CURLOPT_READDATA, &transfer);
    curl_easy_setopt(easy, CURLOPT_SEEKFUNCTION, OnSeek);
    curl_easy_setopt(easy, CURLOPT_SEEKDATA, &transfer);
    curl_easy_setopt(easy, CURLOPT_DEBUGFUNCTION, OnDebug);
    curl_easy_setopt(easy, CURLOPT_DEBUGDATA, &transfer);
    curl_easy_setopt(easy, CURLOPT_VERBOSE, 1L);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, transfer.errorText);
}

}  // namespace

bool ConfigureTransfer(CURL* easy, Transfer& transfer, const TransferSettings& settings) {
    transfer.generation = settings.generation;
    transfer.receiveTimeoutMs = settings.receiveTimeoutMs;
    transfer.serverHeaders = MakeList(settings.serverHeaders);
    transfer.proxyHeaders = MakeList(settings.proxyHeaders);
    if ((!settings.serverHeaders.empty() && !transfer.serverHeaders) ||
        (!settings.proxyHeaders.empty() && !transfer.proxyHeaders))
        return false;
    if (curl_easy_setopt(easy, CURLOPT_URL, settings.url.c_str()) != CURLE_OK)
        return false;
    curl_easy_setopt(easy, CURLOPT_PATH_AS_IS, 1L);
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_USERAGENT, OrNull(settings.agent));
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, transfer.serverHeaders.get());
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(settings.connectTimeoutMs));
    curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, nullptr);  // bodies pass as sent
    curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, kReceiveBlock);
    curl_easy_setopt(easy, CURLOPT_UPLOAD_BUFFERSIZE, kSendBlock);
    SetMethod(easy, settings);
    SetCredentials(easy, settings, transfer);
    SetProxy(easy, settings, transfer);
    SetTls(easy, settings, transfer);
    SetCallbacks(easy, transfer);
    return true;
}

}  // namespace vodarezazuv::net
