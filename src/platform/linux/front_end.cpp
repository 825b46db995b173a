#include "platform/front_end.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>

#include "plugin/reporting.h"
#include "util/bounded_text.h"

namespace vodarezazuv {

namespace {
std::atomic<FrontEnd*> attached{nullptr};
}  // namespace

void SetFrontEnd(FrontEnd* frontEnd) {
    attached.store(frontEnd);
}

int32_t ShowMessageBox(const char16_t* text, const char16_t* caption, MessageIcon icon) {
    if (FrontEnd* frontEnd = attached.load())
        return frontEnd->MessageBox(text, caption, icon);
    char16_t line[kLongPathLimit + 1];
    CopyBoundedW(line, caption, kLongPathLimit);
    AppendBoundedW(line, u": ", kLongPathLimit);
    AppendBoundedW(line, text, kLongPathLimit);
    LogLine(line);
    return kMessageBoxOk;
}

void DefaultBeep() {
    // Non-blocking, and never made the controlling terminal of a process that has none.
    int terminal = open("/dev/tty", O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (terminal < 0)
        return;
    ssize_t written = write(terminal, "\a", 1);
    (void)written;
    close(terminal);
}

}  // namespace vodarezazuv
