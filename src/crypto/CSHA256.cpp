#include "crypto/CSHA256.h"

namespace varnek {

namespace {

constexpr std::array<std::uint32_t, 64> kRoundConstants = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

constexpr std::array<std::uint32_t, 8> kInitialHash = {
    0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

} // namespace

CSHA256::CSHA256() : RoundConstants(kRoundConstants) {
    for (std::size_t i = 0; i < PowersOfTwo.size(); ++i) {
        PowersOfTwo[i] = std::uint32_t{1} << i;
        LowBitMasks[i] = (std::uint32_t{1} << (i + 1)) - 1;
    }
}

std::vector<std::uint32_t> CSHA256::MessageToWords(const std::u16string& sMessage) const {
    const std::size_t length = sMessage.size();
    const std::size_t count = ((length + 8) / 64 + 1) * 16;
    std::vector<std::uint32_t> words(count, 0);
    for (std::size_t k = 0; k < length; ++k) {
        const std::uint32_t byte = sMessage[k] & 0xFF; // the high byte is not part of the input
        words[k / 4] |= ShiftLeftWord(byte, static_cast<std::int16_t>((3 - k % 4) * 8));
    }
    words[length / 4] |= ShiftLeftWord(0x80, static_cast<std::int16_t>((3 - length % 4) * 8));
    const auto units = static_cast<std::uint32_t>(length);
    words[count - 1] = ShiftLeftWord(units, 3);
    words[count - 2] = ShiftRightWord(units, 29);
    return words;
}

std::uint32_t CSHA256::ShiftLeftWord(std::uint32_t x, std::int16_t n) const {
    if (n < 0 || n > 31) {
        throw OverflowError();
    }
    return x << n;
}

std::uint32_t CSHA256::ShiftRightWord(std::uint32_t x, std::int16_t n) const {
    if (n < 0 || n > 31) {
        throw OverflowError();
    }
    return x >> n;
}

std::uint32_t CSHA256::AddWords(std::uint32_t x, std::uint32_t y) const {
    return x + y; // unsigned arithmetic wraps modulo 2^32
}

std::uint32_t CSHA256::RotateRightWord(std::uint32_t x, std::int16_t n) const {
    const auto m = static_cast<std::int16_t>(n & LowBitMasks[4]);
    // A count of 0 asks for a left shift by 32 and so raises the overflow error.
    return ShiftRightWord(x, m) | ShiftLeftWord(x, static_cast<std::int16_t>(32 - m));
}

std::uint32_t CSHA256::ShiftRightMasked(std::uint32_t x, std::int16_t n) const {
    return ShiftRightWord(x, static_cast<std::int16_t>(n & 31));
}

std::uint32_t CSHA256::ChooseWord(std::uint32_t x, std::uint32_t y, std::uint32_t z) const {
    return (x & y) ^ (~x & z);
}

std::uint32_t CSHA256::MajorityWord(std::uint32_t x, std::uint32_t y, std::uint32_t z) const {
    return (x & (y ^ z)) ^ (y & z);
}

std::uint32_t CSHA256::UpperSigma0(std::uint32_t x) const {
    return RotateRightWord(x, 2) ^ RotateRightWord(x, 13) ^ RotateRightWord(x, 22);
}

std::uint32_t CSHA256::UpperSigma1(std::uint32_t x) const {
    return RotateRightWord(x, 6) ^ RotateRightWord(x, 11) ^ RotateRightWord(x, 25);
}

std::uint32_t CSHA256::LowerSigma0(std::uint32_t x) const {
    return RotateRightWord(x, 7) ^ RotateRightWord(x, 18) ^ ShiftRightMasked(x, 3);
}

std::uint32_t CSHA256::LowerSigma1(std::uint32_t x) const {
    return RotateRightWord(x, 17) ^ RotateRightWord(x, 19) ^ ShiftRightMasked(x, 10);
}

std::string CSHA256::SHA256(const std::u16string& sMessage) const {
    std::array<std::uint32_t, 8> hash = kInitialHash;
    const std::vector<std::uint32_t> words = MessageToWords(sMessage);
    std::array<std::uint32_t, 64> schedule{};

    for (std::size_t block = 0; block < words.size(); block += 16) {
        for (std::size_t t = 0; t < 16; ++t) {
            schedule[t] = words[block + t];
        }
        for (std::size_t t = 16; t < 64; ++t) {
            schedule[t] = AddWords(AddWords(LowerSigma1(schedule[t - 2]), schedule[t - 7]),
                                   AddWords(LowerSigma0(schedule[t - 15]), schedule[t - 16]));
        }

        std::uint32_t a = hash[0], b = hash[1], c = hash[2], d = hash[3];
        std::uint32_t e = hash[4], f = hash[5], g = hash[6], h = hash[7];
        for (std::size_t t = 0; t < 64; ++t) {
            const std::uint32_t t1 =
                AddWords(AddWords(AddWords(h, UpperSigma1(e)), ChooseWord(e, f, g)),
                         AddWords(RoundConstants[t], schedule[t]));
            const std::uint32_t t2 = AddWords(UpperSigma0(a), MajorityWord(a, b, c));
            h = g;
            g = f;
            f = e;
            e = AddWords(d, t1);
            d = c;
            c = b;
            b = a;
            a = AddWords(t1, t2);
        }
        const std::array<std::uint32_t, 8> working = {a, b, c, d, e, f, g, h};
        for (std::size_t i = 0; i < hash.size(); ++i) {
            hash[i] = AddWords(hash[i], working[i]);
        }
    }

    static constexpr char kHexDigits[] = "0123456789abcdef";
    std::string digest;
    digest.reserve(64);
    for (const std::uint32_t word : hash) {
        for (int shift = 28; shift >= 0; shift -= 4) {
            digest += kHexDigits[(word >> shift) & 0xF];
        }
    }
    return digest;
}

} // namespace varnek
