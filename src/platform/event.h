// An auto-reset event: Set wakes one wait (or the next one) and the event resets itself as
// that wait returns. Waits take a time-out so that callers can do other work between slices.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace vodarezazuv {

class AutoResetEvent {
  public:
    // Notifies under the lock: a waiter that returns and destroys the event cannot do so
    // before Set is done with it.
    void Set() {
        std::lock_guard lock(mutex_);
        signalled_ = true;
        changed_.notify_one();
    }
    void Reset() {
        std::lock_guard lock(mutex_);
        signalled_ = false;
    }
    // True when the event was signalled within milliseconds; it is then reset.
    bool Wait(uint32_t milliseconds) {
        std::unique_lock lock(mutex_);
        if (!changed_.wait_for(lock, std::chrono::milliseconds(milliseconds),
                               [this] { return signalled_; }))
            return false;
        signalled_ = false;
        return true;
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool signalled_ = false;
};

}  // namespace vodarezazuv
