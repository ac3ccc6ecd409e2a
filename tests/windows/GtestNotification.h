// GoogleTest's Notification for mingw-w64's win32 thread model, which has no
// std::mutex or std::condition_variable: a manual-reset event does the same.
#ifndef QUARNEL_GTESTNOTIFICATION_H
#define QUARNEL_GTESTNOTIFICATION_H

#include <windows.h>

namespace testing {
namespace internal {

class Notification {
public:
    Notification() : event_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
    ~Notification() { CloseHandle(event_); }
    Notification(const Notification&) = delete;
    Notification& operator=(const Notification&) = delete;
    void Notify() { SetEvent(event_); }
    void WaitForNotification() { WaitForSingleObject(event_, INFINITE); }

private:
    HANDLE event_;
};

}  // namespace internal
}  // namespace testing

#endif
