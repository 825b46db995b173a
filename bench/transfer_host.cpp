// A host for the transfer benchmark: loads the plugin as the file manager does, opens a
// connection by listing it, downloads one file and uploads it again, and prints the times
// and the process's peak resident memory as KEY=value lines for bench/transfer_bench.sh.
//
//   transfer_host PLUGIN CONFIG_DIR REMOTE_FOLDER NAME LOCAL_FILE UPLOAD_NAME
//
// CONFIG_DIR holds vodarezazuv.ini; REMOTE_FOLDER is a host path such as \bench\folder.
#include <dlfcn.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "vodarezazuv/fs_plugin.h"

namespace {

std::u16string Wide(const std::string& text) {
    std::u16string out;
    for (size_t i = 0; i < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        size_t n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        char32_t value = n == 1 ? c : c & (0xFF >> (n + 1));
        for (size_t k = 1; k < n && i + k < text.size(); ++k)
            value = (value << 6) | (text[i + k] & 0x3F);
        i += n;
        if (value >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((value - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((value - 0x10000) & 0x3FF));
        } else {
            out += static_cast<char16_t>(value);
        }
    }
    return out;
}

std::string Narrow(const char16_t* text) {
    std::string out;
    for (; *text != 0; ++text)
        out += *text < 0x80 ? static_cast<char>(*text) : '?';
    return out;
}

int32_t Progress(int32_t, char16_t*, char16_t*, int32_t) {
    return 0;
}
void Log(int32_t, int32_t, char16_t*) {}
int32_t Request(int32_t, int32_t, char16_t*, char16_t*, char16_t*, int32_t) {
    return 0;
}

// The peak resident memory of this process in KiB, from the kernel's VmHWM.
long PeakResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stol(line.substr(6));
    }
    return -1;
}

template <typename Function>
Function* Resolve(void* library, const char* name) {
    void* symbol = dlsym(library, name);
    if (symbol == nullptr) {
        std::fprintf(stderr, "transfer_host: the plugin lacks %s\n", name);
        std::exit(2);
    }
    return reinterpret_cast<Function*>(symbol);
}

// The find record of name in the listing of folder; false when the listing fails.
bool FindRecord(void* library, const std::u16string& folder, const std::u16string& name,
                WIN32_FIND_DATAW& found) {
    auto first = Resolve<decltype(FsFindFirstW)>(library, "FsFindFirstW");
    auto next = Resolve<decltype(FsFindNextW)>(library, "FsFindNextW");
    auto close = Resolve<decltype(FsFindClose)>(library, "FsFindClose");
    std::u16string path = folder;
    WIN32_FIND_DATAW record;
    void* handle = first(path.data(), &record);
    if (handle == FS_INVALID_HANDLE)
        return false;
    bool matched = false;
    do {
        if (name == record.name) {
            found = record;
            matched = true;
        }
    } while (!matched && next(handle, &record) != 0);
    close(handle);
    return matched;
}

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 7) {
        std::fprintf(stderr,
                     "usage: transfer_host PLUGIN CONFIG_DIR REMOTE_FOLDER NAME LOCAL_FILE "
                     "UPLOAD_NAME\n");
        return 2;
    }
    void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        std::fprintf(stderr, "transfer_host: %s\n", dlerror());
        return 2;
    }
    FsDefaultParams params{};
    params.size = sizeof params;
    params.versionLow = 3;
    params.versionHigh = 2;
    std::snprintf(params.settingsPath, sizeof params.settingsPath, "%s/morlo.ini", argv[2]);
    Resolve<decltype(FsSetDefaultParams)>(library, "FsSetDefaultParams")(&params);
    Resolve<decltype(FsInitW)>(library, "FsInitW")(1, &Progress, &Log, &Request);

    std::u16string folder = Wide(argv[3]);
    std::u16string name = Wide(argv[4]);
    WIN32_FIND_DATAW record{};
    // Listing the folder opens the connection, as the file manager's first look at it does.
    if (!FindRecord(library, folder, name, record)) {
        std::fprintf(stderr, "transfer_host: %s has no %s (or the connection did not open)\n",
                     argv[3], argv[4]);
        return 1;
    }
    FsRemoteInfo info{record.sizeLow, record.sizeHigh, record.lastWriteTime,
                      static_cast<int32_t>(record.attributes)};
    uint64_t bytes = (static_cast<uint64_t>(record.sizeHigh) << 32) | record.sizeLow;

    std::u16string remote = folder + u"\\" + name;
    std::u16string local = Wide(argv[5]);
    auto start = std::chrono::steady_clock::now();
    int32_t got = Resolve<decltype(FsGetFileW)>(library, "FsGetFileW")(remote.data(), local.data(),
                                                                       CopyOverwrite, &info);
    double downloadSeconds = Seconds(start);

    std::u16string target = folder + u"\\" + Wide(argv[6]);
    start = std::chrono::steady_clock::now();
    int32_t put = Resolve<decltype(FsPutFileW)>(library, "FsPutFileW")(local.data(), target.data(),
                                                                       CopyOverwrite);
    double uploadSeconds = Seconds(start);

    std::printf("bytes=%llu\n", static_cast<unsigned long long>(bytes));
    std::printf("download_result=%d\ndownload_seconds=%.3f\n", got, downloadSeconds);
    std::printf("upload_result=%d\nupload_seconds=%.3f\n", put, uploadSeconds);
    std::printf("peak_rss_kib=%ld\n", PeakResidentKiB());
    std::printf("remote=%s\n", Narrow(remote.c_str()).c_str());
    std::fflush(stdout);
    // Disconnecting ends the client's thread; the library must not go while it runs.
    std::u16string connection = folder.substr(0, folder.find(u'\\', 1));
    Resolve<decltype(FsDisconnectW)>(library, "FsDisconnectW")(connection.data());
    dlclose(library);
    return got == FileOpOk && put == FileOpOk ? 0 : 1;
}
