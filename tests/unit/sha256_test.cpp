#include "crypto/CSHA256.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <type_traits>

#include "sha256_cases.h" // written at build time by make_sha256_cases.py

namespace varnek {

struct CSHA256TestAccess {
    const CSHA256 sha;
    std::vector<std::uint32_t> Words(const std::u16string& s) const {
        return sha.MessageToWords(s);
    }
    std::uint32_t Shl(std::uint32_t x, std::int16_t n) const { return sha.ShiftLeftWord(x, n); }
    std::uint32_t Shr(std::uint32_t x, std::int16_t n) const { return sha.ShiftRightWord(x, n); }
    std::uint32_t Add(std::uint32_t x, std::uint32_t y) const { return sha.AddWords(x, y); }
    std::uint32_t Rotr(std::uint32_t x, std::int16_t n) const { return sha.RotateRightWord(x, n); }
    std::uint32_t ShrMasked(std::uint32_t x, std::int16_t n) const {
        return sha.ShiftRightMasked(x, n);
    }
    std::uint32_t Ch(std::uint32_t x, std::uint32_t y, std::uint32_t z) const {
        return sha.ChooseWord(x, y, z);
    }
    std::uint32_t Maj(std::uint32_t x, std::uint32_t y, std::uint32_t z) const {
        return sha.MajorityWord(x, y, z);
    }
    std::uint32_t S0(std::uint32_t x) const { return sha.UpperSigma0(x); }
    std::uint32_t S1(std::uint32_t x) const { return sha.UpperSigma1(x); }
    std::uint32_t s0(std::uint32_t x) const { return sha.LowerSigma0(x); }
    std::uint32_t s1(std::uint32_t x) const { return sha.LowerSigma1(x); }
    const auto& LowBitMasks() const { return sha.LowBitMasks; }
    const auto& PowersOfTwo() const { return sha.PowersOfTwo; }
    const auto& RoundConstants() const { return sha.RoundConstants; }
};

namespace {

std::u16string CaseText(const sha256_cases::Case& c) {
    return std::u16string(sha256_cases::kUnits + c.offset, c.length);
}

// Reference rotation for counts 1..31, written out here rather than taken from the class.
std::uint32_t Rotr(std::uint32_t x, int n) {
    return (x >> n) | (x << (32 - n));
}

// Edge words plus a spread of others from a small linear congruential sequence.
std::vector<std::uint32_t> SampleWords() {
    std::vector<std::uint32_t> words = {0,          1,          2,          0x7FFFFFFF,
                                        0x80000000, 0x80000001, 0xFFFFFFFF, 0xFFFFFFFE,
                                        0x55555555, 0xAAAAAAAA, 0x0000FFFF};
    std::uint32_t v = 12345;
    for (int i = 0; i < 40; ++i) {
        v = v * 1664525u + 1013904223u;
        words.push_back(v);
    }
    return words;
}

TEST(CSHA256, PublishedVectors) {
    const CSHA256 sha;
    EXPECT_EQ(sha.SHA256(u""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(sha.SHA256(u"abc"),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(sha.SHA256(u"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(sha.SHA256(std::u16string(1000000, u'a')),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(CSHA256, MatchesHashlibOnGeneratedTexts) {
    const CSHA256 sha;
    int leadingZeroCases = 0, highUnitCases = 0;
    for (const auto& c : sha256_cases::kCases) {
        const std::u16string text = CaseText(c);
        SCOPED_TRACE("length " + std::to_string(c.length) + ", digest " + c.digest);
        EXPECT_EQ(sha.SHA256(text), c.digest);
        // Digests whose first hex digit of some word is 0: those leading zeros must stay.
        const std::string d = c.digest;
        for (std::size_t i = 0; i < 64; i += 8) {
            if (d[i] == '0') {
                ++leadingZeroCases;
                break;
            }
        }
        for (const char16_t u : text) {
            if (u > 0xFF) {
                ++highUnitCases;
                break;
            }
        }
    }
    EXPECT_GT(leadingZeroCases, 0);
    EXPECT_GT(highUnitCases, 0);
}

TEST(CSHA256, OnlyTheLowByteOfEachUnitCounts) {
    const CSHA256 sha;
    EXPECT_EQ(sha.SHA256(u"Pris: 100 €"), sha.SHA256(u"Pris: 100 \u00ac"));
    for (const auto& c : sha256_cases::kCases) {
        std::u16string text = CaseText(c);
        for (char16_t& u : text) {
            u = static_cast<char16_t>(u ^ 0x5A00); // a different high byte, the same low byte
        }
        EXPECT_EQ(sha.SHA256(text), c.digest) << "length " << c.length;
    }
}

TEST(CSHA256, NothingCarriesOverBetweenCalls) {
    const CSHA256 first, second;
    const std::u16string text = u"kodeord1234\u00e6\u00f8\u00e5salt";
    const std::string digest = first.SHA256(text);
    EXPECT_EQ(first.SHA256(u"something else entirely"), second.SHA256(u"something else entirely"));
    EXPECT_EQ(first.SHA256(text), digest);
    EXPECT_EQ(second.SHA256(text), digest);
}

TEST(CSHA256Words, Tables) {
    const CSHA256TestAccess a;
    std::uint32_t power = 1;
    for (std::size_t i = 0; i < 31; ++i) {
        EXPECT_EQ(a.PowersOfTwo()[i], power) << i;
        EXPECT_EQ(a.LowBitMasks()[i], 0xFFFFFFFFu >> (31 - i)) << i;
        power *= 2;
    }
    EXPECT_EQ(a.LowBitMasks()[30], 0x7FFFFFFFu);
    for (std::size_t t = 0; t < 64; ++t) {
        EXPECT_EQ(a.RoundConstants()[t], sha256_cases::kRoundConstants[t]) << t;
    }
}

TEST(CSHA256Words, PaddingPlacesTerminatorAndBitLength) {
    const CSHA256TestAccess a;
    const auto abc = a.Words(u"abc");
    ASSERT_EQ(abc.size(), 16u);
    EXPECT_EQ(abc[0], 0x61626380u);
    EXPECT_EQ(abc[15], 24u);
    EXPECT_EQ(a.Words(u"")[0], 0x80000000u);
    EXPECT_EQ(a.Words(u"€")[0], 0xAC800000u);
    const auto w55 = a.Words(std::u16string(55, u'x'));
    ASSERT_EQ(w55.size(), 16u);
    EXPECT_EQ(w55[13], 0x78787880u);
    EXPECT_EQ(w55[15], 440u);
    const auto w56 = a.Words(std::u16string(56, u'x'));
    ASSERT_EQ(w56.size(), 32u);
    EXPECT_EQ(w56[14], 0x80000000u);
    EXPECT_EQ(w56[15], 0u);
    EXPECT_EQ(w56[31], 448u);
    EXPECT_EQ(a.Words(std::u16string(64, u'x')).size(), 32u);
    EXPECT_EQ(a.Words(std::u16string(120, u'x')).size(), 48u);
}

TEST(CSHA256Words, ShiftCountsOutsideTheWordRaiseOverflow) {
    const CSHA256TestAccess a;
    for (const std::int16_t n : {std::int16_t{-1}, std::int16_t{32}, std::int16_t{-32768}}) {
        EXPECT_THROW(a.Shl(1, n), OverflowError) << n;
        EXPECT_THROW(a.Shr(1, n), OverflowError) << n;
    }
    EXPECT_THROW(a.Rotr(0x12345678, 0), OverflowError);
    EXPECT_THROW(a.Rotr(0x12345678, 32), OverflowError); // 32 AND 31 is 0
    try {
        a.Shl(1, 32);
        FAIL() << "no error raised";
    } catch (const OverflowError& e) {
        static_assert(std::is_base_of_v<std::overflow_error, OverflowError>);
        EXPECT_EQ(e.Number(), 6);
    }
    EXPECT_EQ(a.ShrMasked(0x80000000, 32), 0x80000000u);
    EXPECT_EQ(a.ShrMasked(0x80000000, 35), 0x10000000u);
}

TEST(CSHA256Words, ShiftsAddsAndRotationsAtTheEdges) {
    const CSHA256TestAccess a;
    EXPECT_EQ(a.Shl(0xFFFFFFFF, 31), 0x80000000u);
    EXPECT_EQ(a.Shr(0x80000000, 31), 1u);
    EXPECT_EQ(a.Shr(0x80000000, 1), 0x40000000u); // logical, no sign fill
    EXPECT_EQ(a.Add(0xFFFFFFFF, 1), 0u);
    EXPECT_EQ(a.Add(0x7FFFFFFF, 1), 0x80000000u);
    EXPECT_EQ(a.Add(0x80000000, 0x80000000), 0u);
    EXPECT_EQ(a.Add(0xFFFFFFFF, 0xFFFFFFFF), 0xFFFFFFFEu);
    EXPECT_EQ(a.Rotr(1, 1), 0x80000000u);
    EXPECT_EQ(a.Rotr(0x80000000, 31), 1u);
    EXPECT_EQ(a.Rotr(0x00000003, 33), 0x80000001u); // the count is taken AND 31
    const auto words = SampleWords();
    for (const std::uint32_t x : words) {
        for (std::int16_t n = 0; n < 32; ++n) {
            EXPECT_EQ(a.Shl(x, n), static_cast<std::uint32_t>(std::uint64_t{x} << n));
            EXPECT_EQ(a.Shr(x, n), static_cast<std::uint32_t>(std::uint64_t{x} >> n));
            if (n > 0) {
                EXPECT_EQ(a.Rotr(x, n), Rotr(x, n));
            }
        }
        for (const std::uint32_t y : words) {
            EXPECT_EQ(a.Add(x, y), static_cast<std::uint32_t>((std::uint64_t{x} + y) & 0xFFFFFFFF));
        }
    }
}

TEST(CSHA256Words, ChooseMajorityAndSigmas) {
    const CSHA256TestAccess a;
    EXPECT_EQ(a.Ch(0xFFFF0000, 0x12345678, 0x9ABCDEF0), 0x1234DEF0u);
    EXPECT_EQ(a.S0(1), 0x40080400u);
    EXPECT_EQ(a.s0(0x80000000), 0x11002000u);
    const auto words = SampleWords();
    for (std::size_t i = 0; i + 2 < words.size(); ++i) {
        const std::uint32_t x = words[i], y = words[i + 1], z = words[i + 2];
        std::uint32_t ch = 0, maj = 0;
        for (int bit = 0; bit < 32; ++bit) {
            const int xb = (x >> bit) & 1, yb = (y >> bit) & 1, zb = (z >> bit) & 1;
            ch |= std::uint32_t(xb ? yb : zb) << bit;
            maj |= std::uint32_t(xb + yb + zb >= 2) << bit;
        }
        EXPECT_EQ(a.Ch(x, y, z), ch);
        EXPECT_EQ(a.Maj(x, y, z), maj);
        EXPECT_EQ(a.S0(x), Rotr(x, 2) ^ Rotr(x, 13) ^ Rotr(x, 22));
        EXPECT_EQ(a.S1(x), Rotr(x, 6) ^ Rotr(x, 11) ^ Rotr(x, 25));
        EXPECT_EQ(a.s0(x), Rotr(x, 7) ^ Rotr(x, 18) ^ (x >> 3));
        EXPECT_EQ(a.s1(x), Rotr(x, 17) ^ Rotr(x, 19) ^ (x >> 10));
    }
}

} // namespace
} // namespace varnek
