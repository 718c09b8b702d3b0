#include "win32/SystemLibrary.h"

#include <objbase.h>

namespace varnek::win32 {

bool EnsureCom() {
    static const bool started = [] {
        const auto initialize =
            SystemFunction<decltype(&CoInitializeEx)>(L"ole32.dll", "CoInitializeEx");
        // S_FALSE: this thread had COM already.
        return initialize && SUCCEEDED(initialize(nullptr, COINIT_APARTMENTTHREADED));
    }();
    return started;
}

} // namespace varnek::win32
