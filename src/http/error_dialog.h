// What the system's error dialog of a request does, through the front end: a certificate
// problem is put to the user as a question and, when accepted, ignored for that request's
// server certificate only; an incorrect password asks for new credentials.
#pragma once

#include <cstdint>

#include "platform/http_client.h"

namespace vodarezazuv {

// Flags of RequestErrorDialog: the errors the dialog handles only, change the request's
// options from the answer, and collect the answer's data (credentials).
inline constexpr uint32_t kErrorDialogFilterForErrors = 1;
inline constexpr uint32_t kErrorDialogChangeOptions = 2;
inline constexpr uint32_t kErrorDialogGenerateData = 4;

// The security flags an accepted certificate problem sets (none for the revocation errors,
// whose caller switches revocation checking off itself).
uint32_t IgnoreFlagsFor(uint32_t error);

// Asks about error of request. 0 when the user accepted (send the request again), else
// kNetErrorCancelled: the user refused, there is no front end to ask, or the problem cannot
// be accepted (a revoked certificate).
uint32_t RequestErrorDialog(NetHandle request, uint32_t error, uint32_t flags);

}  // namespace vodarezazuv
