// UTF-8 to Windows-1250 through a table of our own, independent of the
// system's conversion modules.
#include "platform/CodePage.h"

#include <cstdint>
#include <cstring>

namespace {

// Unicode code point of each Windows-1250 byte 0x80..0xFF; 0 where the byte is
// undefined. Bytes below 0x80 are ASCII.
constexpr uint16_t upper_half[128] = {
    0x20AC, 0x0000, 0x201A, 0x0000, 0x201E, 0x2026, 0x2020, 0x2021, // 0x80
    0x0000, 0x2030, 0x0160, 0x2039, 0x015A, 0x0164, 0x017D, 0x0179, // 0x88
    0x0000, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, // 0x90
    0x0000, 0x2122, 0x0161, 0x203A, 0x015B, 0x0165, 0x017E, 0x017A, // 0x98
    0x00A0, 0x02C7, 0x02D8, 0x0141, 0x00A4, 0x0104, 0x00A6, 0x00A7, // 0xA0
    0x00A8, 0x00A9, 0x015E, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x017B, // 0xA8
    0x00B0, 0x00B1, 0x02DB, 0x0142, 0x00B4, 0x00B5, 0x00B6, 0x00B7, // 0xB0
    0x00B8, 0x0105, 0x015F, 0x00BB, 0x013D, 0x02DD, 0x013E, 0x017C, // 0xB8
    0x0154, 0x00C1, 0x00C2, 0x0102, 0x00C4, 0x0139, 0x0106, 0x00C7, // 0xC0
    0x010C, 0x00C9, 0x0118, 0x00CB, 0x011A, 0x00CD, 0x00CE, 0x010E, // 0xC8
    0x0110, 0x0143, 0x0147, 0x00D3, 0x00D4, 0x0150, 0x00D6, 0x00D7, // 0xD0
    0x0158, 0x016E, 0x00DA, 0x0170, 0x00DC, 0x00DD, 0x0162, 0x00DF, // 0xD8
    0x0155, 0x00E1, 0x00E2, 0x0103, 0x00E4, 0x013A, 0x0107, 0x00E7, // 0xE0
    0x010D, 0x00E9, 0x0119, 0x00EB, 0x011B, 0x00ED, 0x00EE, 0x010F, // 0xE8
    0x0111, 0x0144, 0x0148, 0x00F3, 0x00F4, 0x0151, 0x00F6, 0x00F7, // 0xF0
    0x0159, 0x016F, 0x00FA, 0x0171, 0x00FC, 0x00FD, 0x0163, 0x02D9, // 0xF8
};

char ToCodePage(uint32_t code_point) {
    if (code_point < 0x80)
        return static_cast<char>(code_point);
    for (int i = 0; i < 128; ++i)
        if (upper_half[i] == code_point)
            return static_cast<char>(0x80 + i);
    return code_page_substitute;
}

// Decodes one UTF-8 character at text[i]; returns its length, or 0 when the
// bytes there do not form a valid, shortest-form character outside the
// surrogates.
size_t DecodeUtf8(std::string_view text, size_t i, uint32_t &code_point) {
    const auto byte = [&](size_t k) {
        return static_cast<unsigned char>(text[k]);
    };
    const unsigned char lead = byte(i);
    size_t length;
    uint32_t minimum;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, minimum = 0x80, code_point = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, minimum = 0x800, code_point = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, minimum = 0x10000, code_point = lead & 0x07u;
    } else {
        return 0;
    }
    if (i + length > text.size())
        return 0;
    for (size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0u) != 0x80u)
            return 0;
        code_point = (code_point << 6) | (byte(i + k) & 0x3Fu);
    }
    if (code_point < minimum || code_point > 0x10FFFF ||
        (code_point >= 0xD800 && code_point <= 0xDFFF))
        return 0;
    return length;
}

} // namespace

std::string Utf8ToCodePage(std::string_view utf8) {
    std::string result;
    result.reserve(utf8.size());
    size_t i = 0;
    while (i < utf8.size()) {
        const unsigned char c = static_cast<unsigned char>(utf8[i]);
        if (c < 0x80) {
            result += static_cast<char>(c);
            ++i;
            continue;
        }
        uint32_t code_point = 0;
        const size_t length = DecodeUtf8(utf8, i, code_point);
        if (length == 0) {
            result += code_page_substitute;
            ++i;
        } else {
            result += ToCodePage(code_point);
            i += length;
        }
    }
    return result;
}

size_t Utf8ValidPrefix(std::string_view text) {
    const size_t n = text.size();
    size_t i = 0;
    while (i < n) {
        // Eight ASCII bytes at a time: the common case of a station file.
        while (i + 8 <= n) {
            uint64_t word;
            std::memcpy(&word, text.data() + i, sizeof word);
            if ((word & 0x8080808080808080ull) != 0)
                break;
            i += 8;
        }
        if (i == n)
            break;
        if (static_cast<unsigned char>(text[i]) < 0x80) {
            ++i;
            continue;
        }
        uint32_t code_point = 0;
        const size_t length = DecodeUtf8(text, i, code_point);
        if (length == 0)
            return i;
        i += length;
    }
    return n;
}

std::string CodePageToUtf8(std::string_view text) {
    std::string utf8;
    utf8.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        uint32_t code_point = byte < 0x80 ? byte : upper_half[byte - 0x80];
        if (code_point == 0 && byte != 0) {
            code_point = static_cast<unsigned char>(code_page_substitute);
        }
        if (code_point < 0x80) {
            utf8 += static_cast<char>(code_point);
        } else if (code_point < 0x800) {
            utf8 += static_cast<char>(0xC0 | (code_point >> 6));
            utf8 += static_cast<char>(0x80 | (code_point & 0x3F));
        } else {
            utf8 += static_cast<char>(0xE0 | (code_point >> 12));
            utf8 += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
            utf8 += static_cast<char>(0x80 | (code_point & 0x3F));
        }
    }
    return utf8;
}
