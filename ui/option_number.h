#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tandril {

// Reads an Options field: blanks and tabs around an optional sign and decimal
// digits. Digits beyond 4294967295 read as 4294967295; a minus sign negates modulo
// 2^32. Nothing when the text is not such a number (empty, letters, anything after
// the digits, or a 0 that was not written starting with the digit 0).
std::optional<std::uint32_t> ParseOptionNumber(const std::string& text);

}  // namespace tandril
