#include "html/tag_table.h"
#include "url/url_text.h"

#include <array>
#include <cstdint>
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
    {"a", "href", kLink, F::Url, R::NofollowRel},
    {"area", "href", kLink, F::Url, R::NofollowRel},
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

// A tag name of at most 8 bytes as one word, each byte with bit 0x20 set: letters of
// either case give the lower-case word, and no other byte becomes a letter.
constexpr std::uint64_t PackName(std::string_view name) {
    std::uint64_t word = 0;
    for (std::size_t i = 0; i < name.size(); ++i)
        word |= std::uint64_t{static_cast<unsigned char>(name[i] | 0x20)} << (8 * i);
    return word;
}

// Each tag of the table once: its packed name and its run of rows.
struct TagRun {
    std::uint64_t name;
    unsigned char first;
    unsigned char end;
};
constexpr std::size_t CountTags() {
    std::size_t n = 0;
    for (std::size_t row = 0; row < std::size(kTable); ++row)
        n += row == 0 || kTable[row].tag != kTable[row - 1].tag;
    return n;
}
constexpr std::array<TagRun, CountTags()> MakeRuns() {
    std::array<TagRun, CountTags()> runs{};
    std::size_t n = 0;
    for (std::size_t row = 0; row < std::size(kTable); ++row) {
        if (row == 0 || kTable[row].tag != kTable[row - 1].tag)
            runs[n++] = TagRun{PackName(kTable[row].tag), static_cast<unsigned char>(row), 0};
        runs[n - 1].end = static_cast<unsigned char>(row + 1);
    }
    return runs;
}
constexpr auto kRuns = MakeRuns();

// For each first letter, the first run whose tag begins with it or a later letter.
constexpr std::array<unsigned char, 27> MakeLetterIndex() {
    std::array<unsigned char, 27> index{};
    std::size_t run = 0;
    for (int letter = 0; letter < 26; ++letter) {
        while (run < kRuns.size() && (kRuns[run].name & 0xFF) < std::uint64_t('a' + letter))
            ++run;
        index[letter] = static_cast<unsigned char>(run);
    }
    index[26] = static_cast<unsigned char>(kRuns.size());
    return index;
}
constexpr auto kLetterIndex = MakeLetterIndex();

}  // namespace

TagRows FindTagRows(std::string_view name) {
    if (name.empty() || name.size() > 8)
        return {};
    const std::uint64_t word = PackName(name);
    const unsigned letter = static_cast<unsigned>(word & 0xFF) - 'a';
    if (letter >= 26)
        return {};
    for (unsigned run = kLetterIndex[letter]; run < kLetterIndex[letter + 1]; ++run) {
        if (kRuns[run].name == word)
            return {kTable + kRuns[run].first, kTable + kRuns[run].end};
    }
    return {};
}

bool IsMetadataRel(std::string_view rel) {
    static constexpr std::string_view kMetadata[] = {"alternate",
                                                     "edit",
                                                     "edituri",
                                                     "search",
                                                     "license",
                                                     "pingback",
                                                     "author",
                                                     "shortlink",
                                                     "preconnect",
                                                     "dns-prefetch",
                                                     "me",
                                                     "profile",
                                                     "wlwmanifest",
                                                     "publisher",
                                                     "openid.server",
                                                     "openid.delegate",
                                                     "openid2.provider",
                                                     "openid2.local_id",
                                                     "webmention",
                                                     "hub",
                                                     "self",
                                                     "canonical",
                                                     "privacy-policy",
                                                     "terms-of-service"};
    bool any = false;
    std::size_t pos = 0;
    while (pos < rel.size()) {
        std::size_t end = rel.find_first_of(" \t\n\f\r", pos);
        if (end == std::string_view::npos)
            end = rel.size();
        const std::string_view token = rel.substr(pos, end - pos);
        if (!token.empty()) {
            bool known = false;
            for (std::string_view m : kMetadata)
                known = known || EqualsNoCase(token, m);
            if (!known)
                return false;
            any = true;
        }
        pos = end + 1;
    }
    return any;
}

bool HasNofollowRel(std::string_view rel) {
    std::size_t pos = 0;
    while (pos < rel.size()) {
        std::size_t end = rel.find_first_of(" \t\n\f\r", pos);
        if (end == std::string_view::npos)
            end = rel.size();
        if (EqualsNoCase(rel.substr(pos, end - pos), "nofollow"))
            return true;
        pos = end + 1;
    }
    return false;
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
