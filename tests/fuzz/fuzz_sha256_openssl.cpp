// CSHA256 against OpenSSL: the digest of a text is SHA-256 of the low byte of each UTF-16 code
// unit, as 64 lowercase hex digits. The input is read twice: as UTF-16 code units (two bytes
// each, little-endian) and as bytes widened to code units.
#include "Check.h"
#include "crypto/CSHA256.h"

#include <openssl/evp.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

using namespace varnek;

namespace {

std::string OpenSslDigest(const std::vector<std::uint8_t>& bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    FUZZ_CHECK(EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr) == 1);
    FUZZ_CHECK(length == 32);
    static constexpr char Hex[] = "0123456789abcdef";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        text += Hex[digest[i] >> 4];
        text += Hex[digest[i] & 0xF];
    }
    return text;
}

void CheckText(const CSHA256& sha, const std::u16string& text) {
    std::vector<std::uint8_t> low;
    for (const char16_t unit : text) {
        low.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    }
    FUZZ_CHECK(sha.SHA256(text) == OpenSslDigest(low));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const CSHA256 sha;
    std::u16string units;
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        units.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
    }
    CheckText(sha, units);
    CheckText(sha, std::u16string(data, data + size));
    return 0;
}
