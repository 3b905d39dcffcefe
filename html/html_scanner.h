#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "css/css_reader.h"
#include "html/scan_sink.h"

namespace tandril {

// Finds the link values of an HTML page fed to it in pieces of any size: the
// attributes of the tag table (html/tag_table.h), every style attribute and the text
// of STYLE elements (through a CssReader). Values are decoded as a browser decodes
// them before they reach the sink; everything that is not a changed value is written
// through byte for byte. A tag may straddle any boundary between two Feeds; memory
// stays bounded (a tag longer than kMaxTagBytes is written out as it stands and its
// values are not reported). Pure: no I/O beyond the sink.
//
// Link kinds reported: 0 hyperlink, 1 embedded object, 2 a quoted BASE HREF (found
// only when `findBase` is set, as it is while links are modified).
class HtmlScanner {
public:
    static constexpr std::size_t kMaxTagBytes = kMaxLinkValue + 64 * 1024;
    // A tag's attributes are noted while its end is searched for, up to this many;
    // a tag with more is split into attributes again when it is handled.
    static constexpr std::size_t kMaxNotedAttributes = 256;

    explicit HtmlScanner(bool findBase = true) : m_bFindBase(findBase) {}

    void Feed(const char* data, std::size_t size, ScanSink& sink);
    // Ends the page: a tag still open is written out as it stands.
    void Finish(ScanSink& sink);
    // Forgets the page so far (after a failed write, or to start another page).
    void Reset();
    void SetFindBase(bool findBase) { m_bFindBase = findBase; }
    // Bytes held back for a tag not yet complete (memory tests).
    std::size_t HeldBytes() const { return m_strCarry.size() + m_css.HeldBytes(); }

private:
    enum class State : unsigned char {
        Text,
        TagOpen,    // after "<"
        InTag,      // inside a start tag, looking for its end
        LongTag,    // the rest of a tag too long to hold
        StyleText,  // the text of a STYLE element
    };
    // Where a start tag's end search stands.
    enum class TagPhase : unsigned char {
        Name,
        BeforeAttr,
        AttrName,
        AfterName,
        BeforeValue,
        Quoted,
        Unquoted
    };

    // One attribute of a start tag: offsets from the tag's "<".
    struct Attribute {
        std::size_t nameStart = 0;
        std::size_t nameEnd = 0;
        std::size_t valueStart = 0;
        std::size_t valueEnd = 0;
        char quote = 0;
        bool hasValue = false;
    };

    // Advances the end search over data[i..size); returns the index just past the
    // tag's ">", or npos when the tag goes on. Inside a tag being held (InTag) it
    // notes the attributes it passes in m_noted.
    std::size_t FindTagEnd(const char* data, std::size_t i, std::size_t size);
    // Handles one whole start tag, from "<" to ">", at input offset `offset`.
    // Writes nothing and returns false when `tag` goes out as it came; else writes
    // `before` (the input's bytes left unwritten before the tag), then the tag with its
    // new values, and returns true.
    bool HandleTag(std::string_view tag, std::uint64_t offset, ScanSink& sink,
                   std::string_view before);
    // Feeds STYLE text to the CSS reader up to its end tag; returns the bytes used
    // (all of them while the element goes on).
    std::size_t FeedStyle(const char* data, std::size_t size, ScanSink& sink);

    bool m_bFindBase;
    State m_state = State::Text;
    TagPhase m_phase = TagPhase::Name;
    char m_quote = 0;
    std::array<Attribute, kMaxNotedAttributes> m_noted;  // of the tag being read
    std::size_t m_nNoted = 0;
    bool m_bTooManyAttributes = false;  // more than kMaxNotedAttributes: none noted
    std::vector<Attribute> m_parsed;    // a tag's attributes split again
    std::string m_strCarry;             // a tag that straddles Feeds, from its "<"
    std::string m_strDecoded;           // the value being handled, decoded and as the sink left it
    std::string m_strValue;             // (their capacity is kept from tag to tag)
    std::uint64_t m_offset = 0;
    std::uint64_t m_tagOffset = 0;
    // STYLE text: the CSS reader, and how much of "</style" has been seen.
    CssReader m_css;
    unsigned m_endMatch = 0;
    std::string m_strEndCarry;
};

}  // namespace tandril
