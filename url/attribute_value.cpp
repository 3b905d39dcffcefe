#include "url/attribute_value.h"

#include "url/url_text.h"

#include <array>
#include <cstdint>

namespace tandril {
namespace {

bool IsAsciiSpace(unsigned char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}

// Bytes that a value's decoding acts on: references, and tab, CR and LF.
constexpr std::array<bool, 256> MakeDecodeStops() {
    std::array<bool, 256> t{};
    for (unsigned char c : {'&', '\t', '\n', '\r'})
        t[c] = true;
    return t;
}
constexpr std::array<bool, 256> kDecodeStop = MakeDecodeStops();

// Bytes written escaped in a quoted value, and in an unquoted one.
constexpr std::array<bool, 256> MakeEncodeStops(bool unquoted) {
    std::array<bool, 256> t{};
    for (unsigned char c : {'&', '"', '\'', '`', '>'})
        t[c] = true;
    if (unquoted) {
        for (unsigned char c : {' ', '\t', '\n', '\f', '\r'})
            t[c] = true;
    }
    return t;
}
constexpr std::array<bool, 256> kEncodeQuoted = MakeEncodeStops(false);
constexpr std::array<bool, 256> kEncodeUnquoted = MakeEncodeStops(true);

// Decodes the reference that starts at text[i] == '&'; on success appends it,
// advances i past it and returns true.
bool DecodeReference(std::string_view text, std::size_t& i, std::string& out) {
    std::size_t j = i + 1;
    if (j < text.size() && text[j] == '#') {
        ++j;
        bool hex = j < text.size() && (text[j] == 'x' || text[j] == 'X');
        if (hex)
            ++j;
        std::size_t digitsStart = j;
        std::uint32_t value = 0;
        for (; j < text.size(); ++j) {
            unsigned char c = static_cast<unsigned char>(text[j]);
            int d = -1;
            if (c >= '0' && c <= '9')
                d = c - '0';
            else if (hex && c >= 'a' && c <= 'f')
                d = c - 'a' + 10;
            else if (hex && c >= 'A' && c <= 'F')
                d = c - 'A' + 10;
            if (d < 0)
                break;
            if (value <= 0x10FFFF)
                value = value * (hex ? 16 : 10) + static_cast<std::uint32_t>(d);
        }
        if (j == digitsStart)
            return false;
        if (j < text.size() && text[j] == ';')
            ++j;
        AppendUtf8(out, value);
        i = j;
        return true;
    }
    static constexpr struct {
        std::string_view name;
        const char* text;
    } kNamed[] = {{"amp", "&"},   {"lt", "<"},   {"gt", ">"},
                  {"quot", "\""}, {"apos", "'"}, {"nbsp", "\xC2\xA0"}};
    for (const auto& named : kNamed) {
        if (text.substr(j, named.name.size()) == named.name) {
            std::size_t end = j + named.name.size();
            // Without its ";" only the old four are references, as browsers read them
            // (a "&lt" inside a query such as "?a=1&ltb=2" stays as written).
            if (end < text.size() && text[end] == ';') {
                ++end;
            } else if (named.name == "apos" || named.name == "nbsp") {
                return false;
            } else if (end < text.size()) {
                unsigned char c = static_cast<unsigned char>(text[end]);
                if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                    c == '=')
                    return false;
            }
            out += named.text;
            i = end;
            return true;
        }
    }
    return false;
}

}  // namespace

std::string DecodeAttributeValue(std::string_view raw) {
    std::string out;
    DecodeAttributeValue(raw, out);
    return out;
}

void DecodeAttributeValue(std::string_view raw, std::string& out) {
    // Most values hold nothing to decode.
    bool plain = !raw.empty() && !IsAsciiSpace(static_cast<unsigned char>(raw.front())) &&
                 !IsAsciiSpace(static_cast<unsigned char>(raw.back()));
    for (std::size_t i = 0; plain && i < raw.size(); ++i)
        plain = !kDecodeStop[static_cast<unsigned char>(raw[i])];
    if (plain) {
        out.assign(raw);
        return;
    }
    std::size_t begin = 0, end = raw.size();
    while (begin < end && IsAsciiSpace(static_cast<unsigned char>(raw[begin])))
        ++begin;
    while (end > begin && IsAsciiSpace(static_cast<unsigned char>(raw[end - 1])))
        --end;
    raw = raw.substr(begin, end - begin);
    out.clear();
    for (std::size_t i = 0; i < raw.size();) {
        char c = raw[i];
        if (c == '&' && DecodeReference(raw, i, out))
            continue;
        if (c != '\t' && c != '\n' && c != '\r')
            out += c;
        ++i;
    }
    // References may have produced white space at the ends too.
    begin = 0;
    end = out.size();
    while (begin < end && IsAsciiSpace(static_cast<unsigned char>(out[begin])))
        ++begin;
    while (end > begin && IsAsciiSpace(static_cast<unsigned char>(out[end - 1])))
        --end;
    out.resize(end);
    out.erase(0, begin);
}

bool NeedsAttributeEncoding(std::string_view text, char quote) {
    const std::array<bool, 256>& stops = quote == 0 ? kEncodeUnquoted : kEncodeQuoted;
    for (char c : text) {
        if (stops[static_cast<unsigned char>(c)])
            return true;
    }
    return false;
}

std::string EncodeAttributeValue(std::string_view text, char quote) {
    std::string out;
    out.reserve(text.size() + 8);
    for (char c : text) {
        if (c == '&') {
            out += "&amp;";
        } else if (c == quote || (quote == 0 && c == '"') || (c == '\'' && quote == 0)) {
            out += c == '"' ? "&quot;" : "&#39;";
        } else if (quote == 0 &&
                   (IsAsciiSpace(static_cast<unsigned char>(c)) || c == '>' || c == '`')) {
            out += "&#" + std::to_string(static_cast<unsigned char>(c)) + ";";
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace tandril
