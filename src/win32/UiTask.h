// The way from a worker thread to the user-interface thread. A worker posts a task; the
// user-interface thread runs it when its message loop comes to it, unless the task's owner was
// forgotten first: a task for a gone owner is dropped, never run against freed memory. A task
// whose post fails (the thread's queue stayed full) is freed, not run, and the poster hears of
// it. Nothing of the service is touched after a task has begun: a task may post, forget or
// start more work.
#pragma once

#include "win32/Window.h"

#include <windows.h>

#include <cstdint>
#include <functional>
#include <set>

namespace varnek::win32 {

class UiTasks final : private Window {
public:
    // Made on the user-interface thread (its tasks run there): a message-only window.
    UiTasks();
    // Tasks still queued are freed without running.
    ~UiTasks() override;
    UiTasks(const UiTasks&) = delete;
    UiTasks& operator=(const UiTasks&) = delete;

    // User-interface thread: an owner that tasks are posted for; never the same twice.
    std::uintptr_t NewOwner();
    // User-interface thread: the owner's tasks queued now or posted later are dropped.
    void Forget(std::uintptr_t owner);

    // Any thread: `task` runs on the user-interface thread unless its owner is forgotten first.
    // While the thread's queue is full it is tried again every 10 ms: for a second, or as long
    // as `keepTrying` (when given) says after each try. False when it could not be queued; the
    // task is freed then.
    bool Post(std::uintptr_t owner, std::function<void()> task,
              const std::function<bool()>& keepTrying = {}) const;

    // Whether the window was made (the self-test asks).
    bool Ready() const { return hwnd_ != nullptr; }

private:
    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam) override;

    std::uintptr_t nextOwner_ = 1;
    std::set<std::uintptr_t> owners_; // those not forgotten
};

} // namespace varnek::win32
