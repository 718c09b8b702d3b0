// The program's entry (wWinMain, in WinMain.cpp) and its end.
#pragma once

#include <windows.h>

namespace varnek::win32 {

// Ends this process now with `code`, without the libraries' detach code: a worker thread may be
// inside WinINet holding its locks, and a detach that waits for one would keep the process, and
// with it the single-instance mutex, for good. The main window's view calls it as the last step
// of the program's one shutdown.
[[noreturn]] void EndProcess(UINT code);

} // namespace varnek::win32
