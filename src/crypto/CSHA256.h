#pragma once

#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace varnek {

// Raised by the word shifts for a shift count outside 0..31. Carries error number 6, the number
// the program has always reported for an overflow.
class OverflowError : public std::overflow_error {
public:
    static constexpr int ErrorNumber = 6;
    OverflowError() : std::overflow_error("Overflow") {}
    int Number() const { return ErrorNumber; }
};

// SHA-256 of a text. The digest input is the low byte of each UTF-16 code unit (the high byte
// is dropped), so digests stored by the settings window stay valid.
class CSHA256 {
public:
    CSHA256();

    // The digest as 64 lowercase hexadecimal digits.
    std::string SHA256(const std::u16string& sMessage) const;

private:
    friend struct CSHA256TestAccess;

    std::vector<std::uint32_t> MessageToWords(const std::u16string& sMessage) const;
    std::uint32_t ShiftLeftWord(std::uint32_t x, std::int16_t n) const;
    std::uint32_t ShiftRightWord(std::uint32_t x, std::int16_t n) const;
    std::uint32_t AddWords(std::uint32_t x, std::uint32_t y) const;
    std::uint32_t RotateRightWord(std::uint32_t x, std::int16_t n) const;
    std::uint32_t ShiftRightMasked(std::uint32_t x, std::int16_t n) const;
    std::uint32_t ChooseWord(std::uint32_t x, std::uint32_t y, std::uint32_t z) const;
    std::uint32_t MajorityWord(std::uint32_t x, std::uint32_t y, std::uint32_t z) const;
    std::uint32_t UpperSigma0(std::uint32_t x) const;
    std::uint32_t UpperSigma1(std::uint32_t x) const;
    std::uint32_t LowerSigma0(std::uint32_t x) const;
    std::uint32_t LowerSigma1(std::uint32_t x) const;

    std::array<std::uint32_t, 31> LowBitMasks{};    // i = 0..30: 2^(i+1) - 1
    std::array<std::uint32_t, 31> PowersOfTwo{};    // i = 0..30: 2^i
    std::array<std::uint32_t, 64> RoundConstants{}; // K0..K63
};

} // namespace varnek
