// The support system's login address for any user name bytes (UTF-8 or not): the fixed
// start, one '&' before the password, a name part of unreserved characters and %XX only, and
// percent-decoding that part gives the name back.
#include "Check.h"
#include "Config.h"
#include "app/VarnekIT.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

using namespace varnek;

namespace {

bool IsUnreserved(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1; // lowercase is not what the program writes
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view userName(reinterpret_cast<const char*>(data), size);
    // A digest is 64 lowercase hex digits.
    const std::string digest = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";
    const std::string address = LoginAddress(userName, digest);

    const std::string start = std::string(SupportServerUrl) + "/AppLogin.asp?Username=";
    const std::string end = "&Password=" + digest;
    FUZZ_CHECK(address.size() >= start.size() + end.size());
    FUZZ_CHECK(address.compare(0, start.size(), start) == 0);
    FUZZ_CHECK(address.compare(address.size() - end.size(), end.size(), end) == 0);
    FUZZ_CHECK(address.find('&') == address.size() - end.size());
    FUZZ_CHECK(address.find('&', address.find('&') + 1) == std::string::npos);

    const std::string_view name =
        std::string_view(address).substr(start.size(), address.size() - start.size() - end.size());
    std::string decoded;
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (IsUnreserved(name[i])) {
            decoded += name[i];
            continue;
        }
        FUZZ_CHECK(name[i] == '%');
        FUZZ_CHECK(i + 2 < name.size());
        const int high = HexValue(name[i + 1]), low = HexValue(name[i + 2]);
        FUZZ_CHECK(high >= 0 && low >= 0);
        const char byte = static_cast<char>(high * 16 + low);
        // Only what must be escaped is escaped.
        FUZZ_CHECK(!IsUnreserved(byte));
        decoded += byte;
        i += 2;
    }
    FUZZ_CHECK(decoded == userName);
    return 0;
}
