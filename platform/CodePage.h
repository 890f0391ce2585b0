// Conversion of UTF-8 text to the 8-bit code page used for station names
// (Windows-1250, Central European).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The code page's substitute for a character it cannot represent.
constexpr char code_page_substitute = '?';

// Converts UTF-8 to Windows-1250. A character the code page lacks, and any byte
// sequence that is not valid UTF-8, becomes code_page_substitute (one per
// character or per invalid byte). ASCII passes through unchanged.
std::string Utf8ToCodePage(std::string_view utf8);

// Converts Windows-1250 text back to UTF-8, for showing station names on a
// UTF-8 terminal; a byte the code page leaves undefined becomes the substitute.
std::string CodePageToUtf8(std::string_view text);

// Length of the longest prefix of text made of whole, valid UTF-8 characters
// (shortest form, no surrogates, at most U+10FFFF). Equals text.size() when all
// of it is valid; a character cut off at the end also stops the prefix.
size_t Utf8ValidPrefix(std::string_view text);
