// What the plugin asks of the user outside the host's own callbacks: message boxes and the
// default beep. An interactive front end can be attached; without one a message box is
// written to the host's log and answered with OK, and a beep goes to the controlling
// terminal when there is one.
#pragma once

#include <cstdint>

namespace vodarezazuv {

enum class MessageIcon { Error, Information };

inline constexpr int32_t kMessageBoxOk = 1;

class FrontEnd {
  public:
    virtual ~FrontEnd() = default;
    // Shows text with its caption and returns the button the user chose.
    virtual int32_t MessageBox(const char16_t* text, const char16_t* caption, MessageIcon icon) = 0;
};

// The attached front end, or nullptr (the default) for none. The caller keeps it alive.
void SetFrontEnd(FrontEnd* frontEnd);

// A modal message box through the front end; without one the caption and text become one
// log line and the answer is kMessageBoxOk.
int32_t ShowMessageBox(const char16_t* text, const char16_t* caption, MessageIcon icon);

// The default beep: the terminal bell on the controlling terminal if one can be opened,
// else nothing. Safe from any thread.
void DefaultBeep();

}  // namespace vodarezazuv
