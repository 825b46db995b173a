#include "http/errors.h"

#include <string>

#include "platform/http_client.h"
#include "platform/string_resources.h"
#include "plugin/reporting.h"
#include "util/bounded_text.h"

namespace vodarezazuv {

namespace {

struct CatalogueEntry {
    uint32_t error;
    const char16_t* english;
    const char16_t* german;
};

// The numbers the HTTP client produces (see src/platform/http_client.h) outside 12001 to
// 12053, whose texts come from the string table instead.
constexpr CatalogueEntry kCatalogue[] = {
    {kNetErrorInvalidHandle, u"The handle is invalid.", u"Das Handle ist ungültig."},
    {kNetErrorNotEnoughMemory, u"Not enough memory is available to process this command.",
     u"Nicht genügend Speicher verfügbar, um diesen Befehl zu verarbeiten."},
    {kNetErrorInvalidParameter, u"The parameter is incorrect.", u"Falscher Parameter."},
    {kNetErrorInsufficientBuffer, u"The data area passed to a system call is too small.",
     u"Der an einen Systemaufruf übergebene Datenbereich ist zu klein."},
    {kNetErrorIoPending, u"Overlapped I/O operation is in progress.",
     u"Überlappender E/A-Vorgang wird verarbeitet."},
    {kNetErrorCancelled, u"The operation was canceled by the user.",
     u"Der Vorgang wurde vom Benutzer abgebrochen."},
    {kNetErrorSecCertErrors, u"The server certificate has errors.",
     u"Das Serverzertifikat ist fehlerhaft."},
    {kNetErrorSecCertNoRev, u"The revocation status of the server certificate is unknown.",
     u"Der Sperrstatus des Serverzertifikats ist unbekannt."},
    {kNetErrorSecCertRevFailed, u"The revocation check of the server certificate failed.",
     u"Die Sperrprüfung des Serverzertifikats ist fehlgeschlagen."},
    {kNetErrorHeaderNotFound, u"The requested header could not be located.",
     u"Der angeforderte Header wurde nicht gefunden."},
    {kNetErrorHeaderAlreadyExists, u"The header could not be added because it already exists.",
     u"Der Header konnte nicht hinzugefügt werden, da er bereits vorhanden ist."},
    {kNetErrorRedirectNeedsConfirmation, u"The redirection requires user confirmation.",
     u"Die Umleitung erfordert eine Bestätigung durch den Benutzer."},
    {kNetErrorSecCertRevoked, u"The server certificate has been revoked.",
     u"Das Serverzertifikat wurde gesperrt."},
};

}  // namespace

const char16_t* SystemMessageText(uint32_t error, uint32_t* lookupError) {
    for (const CatalogueEntry& entry : kCatalogue) {
        if (entry.error == error) {
            *lookupError = 0;
            return ProcessLanguage() == Language::German ? entry.german : entry.english;
        }
    }
    *lookupError = kMessageNotFound;
    return nullptr;
}

void FormatErrorLine(const char16_t* prefix, uint32_t error, char16_t* line) {
    CopyBoundedW(line, prefix, kLongPathLimit);
    size_t used = WideLength(line);
    size_t room = kLongPathLimit - used;
    if (error == kNetErrorExtended) {
        // A text longer than the room left is cut: it is fetched whole, then copied.
        uint32_t lastError = 0;
        uint32_t length = static_cast<uint32_t>(room + 1);
        if (NetGetLastResponseInfo(&lastError, line + used, &length))
            return;
        line[used] = 0;
        if (NetLastError() != kNetErrorInsufficientBuffer)
            return;
        std::u16string text(length, u'\0');
        if (NetGetLastResponseInfo(&lastError, text.data(), &length))
            AppendBoundedW(line, text.c_str(), kLongPathLimit);
        return;
    }
    if (error == 0)
        return;
    uint32_t lookupError = 0;
    const char16_t* system = SystemMessageText(error, &lookupError);
    if (system != nullptr && system[0] != 0) {
        AppendBoundedW(line, system, kLongPathLimit);
    } else if (error >= 12001 && error <= 12053) {
        LoadStringW(error, line + used, room + 1);
    } else {
        FormatWide(line + used, room + 1, u"Error %d, FormatMessage error %d",
                   {static_cast<int32_t>(error), static_cast<int32_t>(lookupError)});
    }
}

void ReportError(const char16_t* prefix, uint32_t error) {
    char16_t line[kLongPathLimit + 1];
    FormatErrorLine(prefix, error, line);
    LogLine(line);
}

}  // namespace vodarezazuv
