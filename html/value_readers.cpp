#include "html/value_readers.h"

namespace tandril {
namespace {

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}

}  // namespace

std::vector<ValueRange> ReadSrcset(std::string_view v) {
    std::vector<ValueRange> urls;
    std::size_t i = 0;
    while (i < v.size()) {
        while (i < v.size() && (IsSpace(v[i]) || v[i] == ','))
            ++i;
        if (i >= v.size())
            break;
        const std::size_t start = i;
        while (i < v.size() && !IsSpace(v[i]))
            ++i;
        std::size_t end = i;
        bool trailingComma = false;
        while (end > start && v[end - 1] == ',') {
            --end;
            trailingComma = true;
        }
        if (end > start)
            urls.push_back({start, end - start});
        if (trailingComma)
            continue;
        // Descriptors run to the next comma outside parentheses.
        bool inParens = false;
        while (i < v.size()) {
            const char c = v[i];
            if (inParens) {
                inParens = c != ')';
            } else if (c == '(') {
                inParens = true;
            } else if (c == ',') {
                ++i;
                break;
            }
            ++i;
        }
    }
    return urls;
}

std::optional<ValueRange> ReadRefreshUrl(std::string_view c) {
    std::size_t i = 0;
    while (i < c.size() && IsSpace(c[i]))
        ++i;
    while (i < c.size() && ((c[i] >= '0' && c[i] <= '9') || c[i] == '.'))
        ++i;
    while (i < c.size() && IsSpace(c[i]))
        ++i;
    if (i < c.size() && (c[i] == ';' || c[i] == ','))
        ++i;
    while (i < c.size() && IsSpace(c[i]))
        ++i;
    if (i >= c.size())
        return std::nullopt;
    // An optional "url =" before the URL.
    if (c.size() - i >= 3 && (c[i] | 0x20) == 'u' && (c[i + 1] | 0x20) == 'r' &&
        (c[i + 2] | 0x20) == 'l') {
        std::size_t j = i + 3;
        while (j < c.size() && IsSpace(c[j]))
            ++j;
        if (j < c.size() && c[j] == '=') {
            i = j + 1;
            while (i < c.size() && IsSpace(c[i]))
                ++i;
        }
    }
    std::size_t end = c.size();
    if (i < c.size() && (c[i] == '"' || c[i] == '\'')) {
        const char quote = c[i++];
        const std::size_t close = c.find(quote, i);
        if (close != std::string_view::npos)
            end = close;
    }
    while (end > i && IsSpace(c[end - 1]))
        --end;
    if (end <= i)
        return std::nullopt;
    return ValueRange{i, end - i};
}

}  // namespace tandril
