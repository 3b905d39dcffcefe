#include "html/tag_table.h"

#include <cstring>
#include <strings.h>

namespace tandril {
namespace {

constexpr TagInfo kTags[] = {
    {"A", "href", 0, false, false},          {"AREA", "href", 0, false, false},
    {"LINK", "href", 0, false, false},       {"FRAME", "src", 0, false, false},
    {"IFRAME", "src", 0, false, false},      {"IMG", "src", 1, false, false},
    {"SCRIPT", "src", 1, false, false},      {"TABLE", "background", 1, false, false},
    {"TD", "background", 1, false, false},   {"TH", "background", 1, false, false},
    {"TR", "background", 1, false, false},   {"BODY", "background", 1, false, false},
    {"BGSOUND", "src", 1, false, false},     {"BASE", "href", 0, true, true},
};

}  // namespace

const TagInfo* FindTag(const char* name, std::size_t length, bool modifyLinks) {
    for (const TagInfo& tag : kTags) {
        if (std::strlen(tag.name) == length && strncasecmp(tag.name, name, length) == 0) {
            return tag.modifyOnly && !modifyLinks ? nullptr : &tag;
        }
    }
    return nullptr;
}

}  // namespace tandril
