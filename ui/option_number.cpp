#include "ui/option_number.h"

namespace tandril {

std::optional<std::uint32_t> ParseOptionNumber(const std::string& text) {
    std::size_t i = 0;
    const std::size_t n = text.size();
    auto blank = [&](std::size_t k) { return text[k] == ' ' || text[k] == '\t'; };
    while (i < n && blank(i))
        ++i;
    const std::size_t first = i;
    bool negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    std::uint64_t value = 0;
    std::size_t digits = 0;
    while (i < n && text[i] >= '0' && text[i] <= '9') {
        value = value * 10 + static_cast<unsigned>(text[i] - '0');
        if (value > 0xFFFFFFFFull)
            value = 0xFFFFFFFFull + 1;  // saturate, below
        ++i;
        ++digits;
    }
    while (i < n && blank(i))
        ++i;
    if (digits == 0 || i != n) {
        return std::nullopt;
    }
    if (value > 0xFFFFFFFFull)
        value = 0xFFFFFFFFull;
    std::uint32_t result = static_cast<std::uint32_t>(value);
    if (negative)
        result = 0u - result;
    if (result == 0 && text[first] != '0') {
        return std::nullopt;
    }
    return result;
}

}  // namespace tandril
