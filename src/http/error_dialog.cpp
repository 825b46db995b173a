#include "http/error_dialog.h"

#include "http/errors.h"
#include "platform/front_end.h"
#include "util/bounded_text.h"

namespace vodarezazuv {

namespace {

constexpr char16_t kCertificateCaption[] = u"Security warning";

// "<question start><reason>; <certificate>. <question end>"
void CertificateQuestion(NetHandle request, uint32_t error, char16_t* question) {
    char16_t reason[kLongPathLimit + 1];
    FormatErrorLine(u"", error, reason);
    CopyBoundedW(question, u"The server's certificate is not trusted: ", kLongPathLimit);
    AppendBoundedW(question, reason, kLongPathLimit);
    // Option texts count characters; a description that does not fit is left out.
    char16_t certificate[kLongPathLimit + 1];
    uint32_t length = kLongPathLimit + 1;
    if (NetQueryOption(request, kNetOptionSecurityCertificate, certificate, &length)) {
        certificate[kLongPathLimit] = 0;
        AppendBoundedW(question, u"\n", kLongPathLimit);
        AppendBoundedW(question, certificate, kLongPathLimit);
    }
    AppendBoundedW(question, u"\nConnect anyway?", kLongPathLimit);
}

bool AcceptCertificateProblem(NetHandle request, uint32_t error, uint32_t flags) {
    char16_t question[kLongPathLimit + 1];
    CertificateQuestion(request, error, question);
    if (!ConfirmQuestion(question, kCertificateCaption))
        return false;
    uint32_t ignore = IgnoreFlagsFor(error);
    if ((flags & kErrorDialogChangeOptions) != 0 && ignore != 0)
        AddSecurityFlags(request, ignore);
    return true;
}

bool EnterCredentials(NetHandle request, uint32_t flags) {
    char16_t user[kNameLimit + 1] = u"";
    char16_t password[kNameLimit + 1] = u"";
    uint32_t length = kNameLimit + 1;  // characters
    if (!NetQueryOption(request, kNetOptionUsername, user, &length))
        user[0] = 0;
    user[kNameLimit] = 0;
    bool entered = AskCredentials(u"", user, password, kNameLimit + 1);
    if (entered && (flags & kErrorDialogGenerateData) != 0) {
        NetSetOption(request, kNetOptionUsername, user,
                     static_cast<uint32_t>(WideLength(user) + 1));
        NetSetOption(request, kNetOptionPassword, password,
                     static_cast<uint32_t>(WideLength(password) + 1));
    }
    // Nothing of the password stays behind on the stack.
    for (char16_t& unit : password)
        *static_cast<volatile char16_t*>(&unit) = 0;
    return entered;
}

}  // namespace

void AddSecurityFlags(NetHandle request, uint32_t flags) {
    uint32_t security = 0;
    uint32_t length = sizeof security;
    if (!NetQueryOption(request, kNetOptionSecurityFlags, &security, &length))
        security = 0;
    security |= flags;
    NetSetOption(request, kNetOptionSecurityFlags, &security, sizeof security);
}

uint32_t IgnoreFlagsFor(uint32_t error) {
    switch (error) {
        case kNetErrorInvalidCa:
            return kNetSecurityIgnoreUnknownCa;
        case kNetErrorCertCnInvalid:
            return kNetSecurityIgnoreCertCnInvalid;
        case kNetErrorCertDateInvalid:
            return kNetSecurityIgnoreCertDateInvalid;
        case kNetErrorSecCertErrors:
            return kNetSecurityIgnoreUnknownCa | kNetSecurityIgnoreCertCnInvalid |
                   kNetSecurityIgnoreCertDateInvalid;
        default:
            return 0;
    }
}

uint32_t RequestErrorDialog(NetHandle request, uint32_t error, uint32_t flags) {
    bool accepted = false;
    switch (error) {
        case kNetErrorInvalidCa:
        case kNetErrorCertCnInvalid:
        case kNetErrorCertDateInvalid:
        case kNetErrorSecCertErrors:
        case kNetErrorSecCertNoRev:
        case kNetErrorSecCertRevFailed:
            accepted = AcceptCertificateProblem(request, error, flags);
            break;
        case kNetErrorSecCertRevoked: {
            // A revoked certificate is never accepted; the user is only told.
            char16_t text[kLongPathLimit + 1];
            FormatErrorLine(u"", error, text);
            ShowMessageBox(text, kCertificateCaption, MessageIcon::Error);
            break;
        }
        case kNetErrorIncorrectPassword:
            accepted = EnterCredentials(request, flags);
            break;
        case kNetErrorRetryDialog:
        case kNetErrorRedirectNeedsConfirmation:
        case kNetErrorHttpToHttpsRedirect: {
            char16_t question[kLongPathLimit + 1];
            FormatErrorLine(u"", error, question);
            AppendBoundedW(question, u"\nContinue?", kLongPathLimit);
            accepted = ConfirmQuestion(question, kCertificateCaption);
            break;
        }
        default:
            break;
    }
    return accepted ? 0 : kNetErrorCancelled;
}

}  // namespace vodarezazuv
