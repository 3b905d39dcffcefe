#pragma once

#include <cstddef>

namespace tandril {

// A tag the scanner recognises and the one attribute that carries its link.
struct TagInfo {
    const char* name;       // upper case
    const char* attribute;  // lower case
    int kind;               // link kind passed to HandleLink
    bool isBase;            // BASE: its quoted value is replaced, never followed
    bool modifyOnly;        // recognised only while links are modified
};

constexpr std::size_t kLongestTagName = 7;  // BGSOUND

// The tag named by `name` (letters only, any case), or null. Tags recognised only
// while links are modified are not found when `modifyLinks` is false.
const TagInfo* FindTag(const char* name, std::size_t length, bool modifyLinks);

}  // namespace tandril
