#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "url/uri.h"

namespace tandril {

// Text tests on URLs and links. A URL is 8-bit text compared exactly; nothing here
// parses a port, user part or query beyond what each function says.

// The link forms, decided in this order: "../", "//", "/", then (after one leading
// "./" is removed) a scheme link, else a relative link.
enum class LinkForm { ParentRelative, NetworkPath, AbsolutePath, Scheme, Relative };

// True when the text before the link's first ":" is a scheme name: a letter, then
// letters, digits, "+", "-" or ".". http:, https:, mailto:, data:, tel: and so on.
bool HasSchemePrefix(const std::string& link);

// Returns the link's form; for Scheme and Relative it has removed one leading "./".
LinkForm ClassifyLink(std::string& link);

// "cgi-bin/" or "/bin/" anywhere, letter case counting.
bool IsCgiLink(const std::string& link);

// A path segment without "." names a directory.
bool IsDirectorySegment(const std::string& segment);

// A URL that ends with "/", is a site root alone, or whose last segment has no "."
// (or is "." or ".."): it is saved as "index.htm".
bool IsDirectoryUrl(const std::string& url);

// The value of a hexadecimal digit, or -1.
int HexValue(unsigned char c);

// Space, tab, line feed, vertical tab, form feed or carriage return; never a byte
// from 0x80 on.
inline bool IsWhiteSpace(unsigned char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// True when the text holds a byte below 0x20 or 0x7F.
bool HasControlByte(const std::string& text);

// Equal ignoring the case of ASCII letters.
inline bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const char x = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] + 32) : a[i];
        const char y = b[i] >= 'A' && b[i] <= 'Z' ? static_cast<char>(b[i] + 32) : b[i];
        if (x != y)
            return false;
    }
    return true;
}

// Appends the UTF-8 bytes of a code point; NUL, surrogates and values past Unicode
// become U+FFFD, as a browser decodes them.
void AppendUtf8(std::string& out, std::uint32_t codePoint);

// Decodes %XX escapes, except %2F and the control bytes %00 to %1F and %7F (either
// case), which stay as written; a "%" not followed by two hex digits stays too.
std::string DecodeLocalName(const std::string& text);

// Percent-encodes the bytes that a URL cannot carry as they are: space, control
// bytes, bytes from 0x80, '"', '<', '>', '\\', '^', '`', '{', '}', '|'.
std::string EncodeForRequest(const std::string& url);

// Percent-encodes a local absolute path for a file URL: as EncodeForRequest, plus
// "%", "#", "?" and ";" which would otherwise change the URL's meaning.
std::string EncodeLocalPath(const std::string& path);

}  // namespace tandril
