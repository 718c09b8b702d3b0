// The program's worker threads and the lock they share data under, on the system's own calls.
// std::thread and std::mutex do the same here, but bring the C++ runtime's thread support and
// its system_error with them: some 10 KiB of a program that customers download at every update.
#pragma once

#include "win32/UniqueHandle.h"

#include <functional>

namespace varnek::win32 {

// A thread started with a task, joined by its owner. The task must not let an exception out
// (the program ends, as with std::thread): the workers wrap theirs in a barrier.
class Thread {
public:
    // Starts `task` on a new thread; false, with nothing started, when the system gives none.
    bool Start(std::function<void()> task);
    // Waits for the thread's end; at once when none was started.
    void Join();

private:
    UniqueHandle handle_;
};

// A lock for std::lock_guard: a slim reader/writer lock, taken exclusively.
class Mutex {
public:
    Mutex() = default;
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    void lock() { AcquireSRWLockExclusive(&lock_); }
    void unlock() { ReleaseSRWLockExclusive(&lock_); }

private:
    SRWLOCK lock_ = SRWLOCK_INIT;
};

} // namespace varnek::win32
