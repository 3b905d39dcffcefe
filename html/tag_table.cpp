#include "html/tag_table.h"

#include <cstring>

namespace tandril {
namespace {

constexpr TagInfo kTags[] = {
    {"A", "href", 0, false, false},        {"AREA", "href", 0, false, false},
    {"LINK", "href", 0, false, false},     {"FRAME", "src", 0, false, false},
    {"IFRAME", "src", 0, false, false},    {"IMG", "src", 1, false, false},
    {"SCRIPT", "src", 1, false, false},    {"TABLE", "background", 1, false, false},
    {"TD", "background", 1, false, false}, {"TH", "background", 1, false, false},
    {"TR", "background", 1, false, false}, {"BODY", "background", 1, false, false},
    {"BGSOUND", "src", 1, false, false},   {"BASE", "href", 0, true, true},
};

}  // namespace

const TagInfo* FindTag(const char* name, std::size_t length, bool modifyLinks) {
    if (length == 0 || length > kLongestTagName) {
        return nullptr;
    }
    char upper[kLongestTagName];
    for (std::size_t i = 0; i < length; ++i) {
        char c = name[i];
        upper[i] = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
    }
    for (const TagInfo& tag : kTags) {
        if (tag.name[0] == upper[0] && std::strlen(tag.name) == length &&
            std::memcmp(tag.name, upper, length) == 0) {
            return tag.modifyOnly && !modifyLinks ? nullptr : &tag;
        }
    }
    return nullptr;
}

}  // namespace tandril
