#pragma once

#include <optional>
#include <string_view>
#include <vector>

namespace tandril {

// A piece of a value: `size` bytes from `start`.
struct ValueRange {
    std::size_t start = 0;
    std::size_t size = 0;
    bool operator==(const ValueRange&) const = default;
};

// The URL of each candidate of a srcset value, in order, as the HTML standard's
// srcset parsing finds them (white space and commas between candidates, descriptors
// after the URL up to the next comma outside parentheses). Pure.
std::vector<ValueRange> ReadSrcset(std::string_view value);

// The URL of a refresh META CONTENT ("5; url=next.html", "0;URL='a.html'", "3, x.html"),
// without its quotes and trailing white space; nothing when it names no URL. Pure.
std::optional<ValueRange> ReadRefreshUrl(std::string_view content);

}  // namespace tandril
