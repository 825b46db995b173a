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

bool ConfirmQuestion(const char16_t* question, const char16_t* caption) {
    if (FrontEnd* frontEnd = attached.load())
        return frontEnd->Confirm(question, caption);
    // Nobody can answer: the question and its answer go to the log, on one line.
    char16_t line[kLongPathLimit + 1];
    CopyBoundedW(line, caption, kLongPathLimit);
    AppendBoundedW(line, u": ", kLongPathLimit);
    AppendBoundedW(line, question, kLongPathLimit);
    AppendBoundedW(line, u" No.", kLongPathLimit);
    for (char16_t* p = line; *p != 0; ++p) {
        if (*p == u'\n' || *p == u'\r')
            *p = u' ';
    }
    LogLine(line);
    return false;
}

bool AskCredentials(const char16_t* server, char16_t* user, char16_t* password, size_t capacity) {
    FrontEnd* frontEnd = attached.load();
    if (frontEnd == nullptr || capacity == 0 ||
        !frontEnd->AskCredentials(server, user, password, capacity))
        return false;
    user[capacity - 1] = 0;
    password[capacity - 1] = 0;
    return true;
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
