// The program's shared variables, one copy per process.
#pragma once

#include <cstdint>
#include <string>

namespace varnek {

struct GlobaleVariabler {
    std::int16_t UpdateTickLimit = 0;
    std::int16_t UpdateTickCount = 0;
    std::string TeamViewerNotFoundText;
    std::string DeleteUserDataText;
};

} // namespace varnek
