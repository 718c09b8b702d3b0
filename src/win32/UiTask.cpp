#include "win32/UiTask.h"

#include <memory>

namespace varnek::win32 {

namespace {

// wParam: the owner; lParam: the task, which the receiver takes over.
constexpr UINT TaskMessage = WM_APP + 2;
constexpr WindowClass TaskWindowClass{L"VarnekUiTasks"};

using Task = std::function<void()>;

} // namespace

UiTasks::UiTasks() {
    Create(TaskWindowClass, 0, 0, L"", 0, 0, 0, 0, HWND_MESSAGE);
}

UiTasks::~UiTasks() {
    if (!hwnd_) {
        return;
    }
    MSG message;
    while (PeekMessageW(&message, hwnd_, TaskMessage, TaskMessage, PM_REMOVE)) {
        delete reinterpret_cast<Task*>(message.lParam);
    }
    Destroy();
}

std::uintptr_t UiTasks::NewOwner() {
    const std::uintptr_t owner = nextOwner_++;
    owners_.insert(owner);
    return owner;
}

void UiTasks::Forget(std::uintptr_t owner) {
    owners_.erase(owner);
}

bool UiTasks::Post(std::uintptr_t owner, std::function<void()> task,
                   const std::function<bool()>& keepTrying) const {
    auto queued = std::make_unique<Task>(std::move(task));
    // A full queue empties as the user-interface thread works.
    for (int tries = 1;; ++tries) {
        if (hwnd_ &&
            PostMessageW(hwnd_, TaskMessage, owner, reinterpret_cast<LPARAM>(queued.get()))) {
            queued.release();
            return true;
        }
        if (keepTrying ? !keepTrying() : tries == 100) {
            return false;
        }
        Sleep(10);
    }
}

LRESULT UiTasks::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != TaskMessage) {
        return Window::Handle(message, wParam, lParam);
    }
    const std::unique_ptr<Task> task(reinterpret_cast<Task*>(lParam));
    if (owners_.contains(wParam)) {
        (*task)();
    }
    return 0;
}

} // namespace varnek::win32
