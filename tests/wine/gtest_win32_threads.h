/* Force-included into GoogleTest and the tests built with it for Windows.
 *
 * mingw-w64 with the win32 thread model has no std::mutex or
 * std::condition_variable, and GoogleTest's Notification class is written
 * with them; everything else in it uses Win32 primitives on Windows. With
 * GTEST_HAS_NOTIFICATION_=1 GoogleTest takes this Notification instead, which
 * waits on a Win32 event.
 */
#ifndef TARSK4_GTEST_WIN32_THREADS_H
#define TARSK4_GTEST_WIN32_THREADS_H

#ifdef __cplusplus
#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace testing {
namespace internal {

class Notification {
  public:
    Notification() : event_(CreateEventA(NULL, TRUE, FALSE, NULL)) {}
    ~Notification() {
        CloseHandle(event_);
    }
    Notification(const Notification &) = delete;
    Notification &operator=(const Notification &) = delete;

    void Notify() {
        SetEvent(event_);
    }
    void WaitForNotification() {
        WaitForSingleObject(event_, INFINITE);
    }

  private:
    HANDLE event_;
};

} // namespace internal
} // namespace testing
#endif

#endif
