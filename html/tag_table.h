#pragma once

#include <cstddef>
#include <string_view>

namespace tandril {

// How an attribute's value is read.
enum class ValueForm : unsigned char {
    Url,      // one URL
    Srcset,   // a list of image candidates: URL and descriptors, comma-separated
    Refresh,  // META CONTENT of a refresh: "5; url=next.html"
    Css,      // a style attribute: CSS declarations
};

// Special handling of one table row.
enum class TagRule : unsigned char {
    None,
    Base,         // BASE HREF: a quoted value is replaced with the page's own directory
    LinkRel,      // LINK HREF: an embedded object when REL names something the page loads,
                  // kind 4 (a link about the page) when it names only such relations
    MetaRefresh,  // META CONTENT: only with HTTP-EQUIV="refresh" (or NAME="robots")
    NofollowRel   // A/AREA HREF: kind 3 when REL holds "nofollow"
};

// One link-bearing attribute of one tag.
struct TagAttribute {
    std::string_view tag;        // lower case
    std::string_view attribute;  // lower case
    int kind;                    // link kind passed to the link handler
    ValueForm form;
    TagRule rule;
};

// The rows for a tag name (any letter case), as a contiguous run of the table; empty
// when the tag carries no links. The style attribute of every tag is read as CSS
// without a row.
struct TagRows {
    const TagAttribute* begin = nullptr;
    const TagAttribute* end = nullptr;
    bool empty() const { return begin == end; }
};
TagRows FindTagRows(std::string_view name);

// True for the REL tokens that make LINK HREF something the page loads.
bool IsLoadingRel(std::string_view rel);
// True when every REL token is one of the relations that describe the page rather than
// lead a reader on (alternate, edit, EditURI, search, license, pingback, author,
// shortlink, preconnect, dns-prefetch...): a crawler has no need to follow them.
bool IsMetadataRel(std::string_view rel);
// True when REL holds the token "nofollow" (any letter case).
bool HasNofollowRel(std::string_view rel);

}  // namespace tandril
