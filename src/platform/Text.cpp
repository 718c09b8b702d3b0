#include "platform/Text.h"

#include <charconv>

namespace varnek {

namespace {

void AppendUtf16(std::u16string& out, char32_t cp) {
    if (cp < 0x10000) {
        out.push_back(static_cast<char16_t>(cp));
    } else {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    }
}

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

} // namespace

std::u16string Utf8ToUtf16(std::string_view text) {
    constexpr char32_t Replacement = 0xFFFD;
    std::u16string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = lead < 0x80         ? 1
                             : (lead >> 5) == 6  ? 2
                             : (lead >> 4) == 14 ? 3
                             : (lead >> 3) == 30 ? 4
                                                 : 0;
        if (length == 0 || i + length > text.size()) {
            AppendUtf16(out, Replacement);
            ++i;
            continue;
        }
        char32_t cp = length == 1 ? lead : lead & (0x7F >> length);
        bool valid = true;
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) {
                valid = false;
                break;
            }
            cp = (cp << 6) | (next & 0x3F);
        }
        static constexpr char32_t Smallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (!valid || cp < Smallest[length] || cp > 0x10FFFF || (cp >= 0xD800 && cp < 0xE000)) {
            AppendUtf16(out, Replacement);
            ++i;
            continue;
        }
        AppendUtf16(out, cp);
        i += length;
    }
    return out;
}

std::string Utf16ToUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t cp = text[i];
        if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] < 0xE000) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp < 0xE000) {
            cp = 0xFFFD;
        }
        AppendUtf8(out, cp);
    }
    return out;
}

std::string LogLine(const DateTime& at, std::string_view text) {
    return Decimal(at.year, 4) + "-" + Decimal(at.month, 2) + "-" + Decimal(at.day, 2) + " " +
           Decimal(at.hour, 2) + ":" + Decimal(at.minute, 2) + ":" + Decimal(at.second, 2) + " " +
           std::string(text);
}

std::string Quoted(std::string_view text) {
    std::string quoted;
    quoted.reserve(text.size() + 2);
    quoted.append(1, '"').append(text).append(1, '"');
    return quoted;
}

std::string Escaped(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7F) {
            out.append("\\x").append(1, HexDigit(c >> 4)).append(1, HexDigit(c));
        } else {
            out.push_back(ch);
        }
    }
    return out;
}

char HexDigit(unsigned value) {
    return "0123456789ABCDEF"[value & 0xF];
}

// Numbers are written here rather than by printf, whose C99 formatting code (floating point
// included) would add some 25 KiB to the program.
std::string Decimal(long long value, int width) {
    char digits[24];
    std::string text(digits, std::to_chars(digits, digits + sizeof digits, value).ptr);
    if (text.size() < static_cast<std::size_t>(width)) {
        text.insert(value < 0 ? 1 : 0, width - text.size(), '0');
    }
    return text;
}

std::string Hexadecimal(std::uint32_t value, int width, bool uppercase) {
    const char* const digits = uppercase ? "0123456789ABCDEF" : "0123456789abcdef";
    char text[8];
    int count = 0;
    do {
        text[7 - count++] = digits[value & 0xF];
        value >>= 4;
    } while (value != 0);
    std::string out(width > count ? width - count : 0, '0');
    return out.append(text + 8 - count, count);
}

std::string CodeText(std::uint32_t code) {
    return "0x" + Hexadecimal(code, 8);
}

} // namespace varnek
