#include "url/url_text.h"

#include <array>
#include <cctype>
#include <string_view>

namespace tandril {
namespace {

bool IsAsciiLetter(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
bool IsAsciiDigit(unsigned char c) {
    return c >= '0' && c <= '9';
}

// Bytes that are escaped in every encoded URL, and also those of a local path.
constexpr std::array<bool, 256> MakeEscapes(std::string_view extra) {
    std::array<bool, 256> t{};
    for (int c = 0; c < 256; ++c)
        t[c] = c <= 0x20 || c >= 0x7F;
    for (unsigned char c : std::string_view("\"<>\\^`{}|"))
        t[c] = true;
    for (unsigned char c : extra)
        t[c] = true;
    return t;
}
constexpr std::array<bool, 256> kRequestEscapes = MakeEscapes("");
constexpr std::array<bool, 256> kLocalPathEscapes = MakeEscapes("%#?;");

std::string Encode(const std::string& text, const std::array<bool, 256>& escapes) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    std::size_t done = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (!escapes[c])
            continue;
        out.append(text, done, i - done);
        const char escaped[3] = {'%', kHex[c >> 4], kHex[c & 15]};
        out.append(escaped, 3);
        done = i + 1;
    }
    out.append(text, done, std::string::npos);
    return out;
}

}  // namespace

int HexValue(unsigned char c) {
    if (IsAsciiDigit(c))
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool HasSchemePrefix(const std::string& link) {
    if (link.empty() || !IsAsciiLetter(static_cast<unsigned char>(link[0]))) {
        return false;
    }
    for (std::size_t i = 1; i < link.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(link[i]);
        if (c == ':') {
            return true;
        }
        if (!IsAsciiLetter(c) && !IsAsciiDigit(c) && c != '+' && c != '-' && c != '.') {
            return false;
        }
    }
    return false;
}

LinkForm ClassifyLink(std::string& link) {
    if (link.compare(0, 3, "../") == 0)
        return LinkForm::ParentRelative;
    if (link.compare(0, 2, "//") == 0)
        return LinkForm::NetworkPath;
    if (link.compare(0, 1, "/") == 0)
        return LinkForm::AbsolutePath;
    if (link.compare(0, 2, "./") == 0)
        link.erase(0, 2);
    return HasSchemePrefix(link) ? LinkForm::Scheme : LinkForm::Relative;
}

bool IsCgiLink(const std::string& link) {
    return link.find("cgi-bin/") != std::string::npos || link.find("/bin/") != std::string::npos;
}

bool IsDirectorySegment(const std::string& segment) {
    return segment.find('.') == std::string::npos;
}

bool IsDirectoryUrl(const std::string& url) {
    if (!url.empty() && url.back() == '/')
        return true;
    std::size_t scheme = url.find("://");
    std::size_t start = scheme == std::string::npos ? 0 : scheme + 3;
    std::size_t slash = url.find_last_of('/');
    if (slash == std::string::npos || slash < start)
        return true;
    std::string_view last = std::string_view(url).substr(slash + 1);
    return last.find('.') == std::string_view::npos || last == "." || last == "..";
}

bool HasControlByte(const std::string& text) {
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7F)
            return true;
    }
    return false;
}

std::string DecodeLocalName(const std::string& text) {
    if (text.find('%') == std::string::npos) {
        return text;
    }
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            int hi = HexValue(static_cast<unsigned char>(text[i + 1]));
            int lo = HexValue(static_cast<unsigned char>(text[i + 2]));
            int value = hi * 16 + lo;
            if (hi >= 0 && lo >= 0 && value != '/' && value >= 0x20 && value != 0x7F) {
                out += static_cast<char>(value);
                i += 2;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

std::string EncodeForRequest(const std::string& url) {
    return Encode(url, kRequestEscapes);
}

std::string EncodeLocalPath(const std::string& path) {
    return Encode(path, kLocalPathEscapes);
}

void AppendUtf8(std::string& out, std::uint32_t cp) {
    // What a browser puts in place of NUL, surrogates and values past Unicode.
    if (cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        cp = 0xFFFD;
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

}  // namespace tandril
