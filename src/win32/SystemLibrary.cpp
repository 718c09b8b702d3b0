#include "win32/SystemLibrary.h"

#include <objbase.h>

namespace varnek::win32 {

bool EnsureCom() {
    static const bool started = [] {
        const auto initialize =
            SystemFunction<decltype(&CoInitializeEx)>(L"ole32.dll", "CoInitializeEx");
        // ShellExecute may hand the launch to a shell extension that is a COM object: that
        // needs a single-threaded apartment, and DDE through OLE1 is of no use to it.
        // S_FALSE: this thread had COM already.
        return initialize &&
               SUCCEEDED(initialize(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE));
    }();
    return started;
}

} // namespace varnek::win32
