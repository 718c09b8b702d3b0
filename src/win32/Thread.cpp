#include "win32/Thread.h"

#include <process.h>

#include <memory>

namespace varnek::win32 {

namespace {

unsigned __stdcall RunTask(void* parameter) noexcept {
    const std::unique_ptr<std::function<void()>> task(
        static_cast<std::function<void()>*>(parameter));
    (*task)();
    return 0;
}

} // namespace

bool Thread::Start(std::function<void()> task) {
    auto owned = std::make_unique<std::function<void()>>(std::move(task));
    // _beginthreadex rather than CreateThread: the task calls the C runtime, which sets up and
    // frees its data for threads it started itself.
    const std::uintptr_t started = _beginthreadex(nullptr, 0, RunTask, owned.get(), 0, nullptr);
    if (started == 0) {
        return false;
    }
    owned.release(); // the thread's now
    handle_.reset(reinterpret_cast<HANDLE>(started));
    return true;
}

void Thread::Join() {
    if (handle_) {
        WaitForSingleObject(handle_.get(), INFINITE);
        handle_.reset();
    }
}

} // namespace varnek::win32
