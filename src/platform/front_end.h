// What the plugin asks of the user outside the host's own callbacks: message boxes, the
// questions about a server's certificate or credentials, and the default beep. An
// interactive front end can be attached; without one a message box is written to the host's
// log and answered with OK, every question is answered "no", and a beep goes to the
// controlling terminal when there is one.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vodarezazuv {

enum class MessageIcon { Error, Information };

inline constexpr int32_t kMessageBoxOk = 1;

class FrontEnd {
  public:
    virtual ~FrontEnd() = default;
    // Shows text with its caption and returns the button the user chose.
    virtual int32_t MessageBox(const char16_t* text, const char16_t* caption, MessageIcon icon) = 0;
    // Asks a yes/no question ("the server's certificate is not trusted: ...; connect
    // anyway?"); true for yes. The default answers no.
    virtual bool Confirm(const char16_t* /*question*/, const char16_t* /*caption*/) {
        return false;
    }
    // Asks for a user name and password for server; both buffers hold capacity characters
    // and come filled with the current values. True when the user entered them, false when
    // cancelled. The default cancels.
    virtual bool AskCredentials(const char16_t* /*server*/, char16_t* /*user*/,
                                char16_t* /*password*/, size_t /*capacity*/) {
        return false;
    }
};

// The attached front end, or nullptr (the default) for none. The caller keeps it alive.
void SetFrontEnd(FrontEnd* frontEnd);

// A modal message box through the front end; without one the caption and text become one
// log line and the answer is kMessageBoxOk.
int32_t ShowMessageBox(const char16_t* text, const char16_t* caption, MessageIcon icon);

// The questions through the front end. Without one a question is logged and answered no,
// and credentials count as cancelled.
bool ConfirmQuestion(const char16_t* question, const char16_t* caption);
bool AskCredentials(const char16_t* server, char16_t* user, char16_t* password, size_t capacity);

// The default beep: the terminal bell on the controlling terminal if one can be opened,
// else nothing. Safe from any thread.
void DefaultBeep();

}  // namespace vodarezazuv
