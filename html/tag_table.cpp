#include "html/tag_table.h"
#include "url/url_text.h"

#include <iterator>

namespace tandril {
namespace {

constexpr int kLink = 0;
constexpr int kObject = 1;
constexpr int kBase = 2;

using F = ValueForm;
using R = TagRule;

// Sorted by tag name; the rows of one tag stand together.
constexpr TagAttribute kTable[] = {
    {"a", "href", kLink, F::Url, R::None},
    {"area", "href", kLink, F::Url, R::None},
    {"audio", "src", kObject, F::Url, R::None},
    {"base", "href", kBase, F::Url, R::Base},
    {"bgsound", "src", kObject, F::Url, R::None},
    {"body", "background", kObject, F::Url, R::None},
    {"embed", "src", kObject, F::Url, R::None},
    {"frame", "src", kLink, F::Url, R::None},
    {"iframe", "src", kLink, F::Url, R::None},
    {"img", "src", kObject, F::Url, R::None},
    {"img", "srcset", kObject, F::Srcset, R::None},
    {"input", "src", kObject, F::Url, R::None},
    {"link", "href", kLink, F::Url, R::LinkRel},
    {"meta", "content", kLink, F::Refresh, R::MetaRefresh},
    {"object", "data", kObject, F::Url, R::None},
    {"script", "src", kObject, F::Url, R::None},
    {"source", "src", kObject, F::Url, R::None},
    {"source", "srcset", kObject, F::Srcset, R::None},
    {"table", "background", kObject, F::Url, R::None},
    {"td", "background", kObject, F::Url, R::None},
    {"th", "background", kObject, F::Url, R::None},
    {"tr", "background", kObject, F::Url, R::None},
    {"track", "src", kObject, F::Url, R::None},
    {"video", "poster", kObject, F::Url, R::None},
    {"video", "src", kObject, F::Url, R::None},
};

// For each first letter, the first row whose tag begins with it or a later letter.
struct LetterIndex {
    unsigned char first[27];
};
constexpr LetterIndex MakeIndex() {
    LetterIndex index{};
    std::size_t row = 0;
    for (int letter = 0; letter < 26; ++letter) {
        while (row < std::size(kTable) && kTable[row].tag[0] < 'a' + letter)
            ++row;
        index.first[letter] = static_cast<unsigned char>(row);
    }
    index.first[26] = static_cast<unsigned char>(std::size(kTable));
    return index;
}
constexpr LetterIndex kIndex = MakeIndex();

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

}  // namespace

TagRows FindTagRows(std::string_view name) {
    if (name.empty() || name.size() > 7)
        return {};
    const char first = Lower(name[0]);
    if (first < 'a' || first > 'z')
        return {};
    const TagAttribute* it = kTable + kIndex.first[first - 'a'];
    const TagAttribute* last = kTable + kIndex.first[first - 'a' + 1];
    for (; it != last; ++it) {
        if (it->tag.size() != name.size() || !EqualsNoCase(name, it->tag))
            continue;
        const TagAttribute* end = it;
        while (end != last && end->tag == it->tag)
            ++end;
        return {it, end};
    }
    return {};
}

bool IsLoadingRel(std::string_view rel) {
    static constexpr std::string_view kLoading[] = {"stylesheet",    "icon",     "apple-touch-icon",
                                                    "mask-icon",     "manifest", "preload",
                                                    "modulepreload", "prefetch"};
    std::size_t pos = 0;
    while (pos < rel.size()) {
        std::size_t end = rel.find_first_of(" \t\n\f\r", pos);
        if (end == std::string_view::npos)
            end = rel.size();
        std::string_view token = rel.substr(pos, end - pos);
        for (std::string_view loading : kLoading)
            if (EqualsNoCase(token, loading))
                return true;
        pos = end + 1;
    }
    return false;
}

}  // namespace tandril
