#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "html/scan_sink.h"

namespace tandril {

// A declaration ("name: value") of a block, as a reader that tracks declarations met it.
struct CssDeclaration {
    std::uint32_t block = 0;   // the block that holds it (numbered in order of their "{")
    std::uint32_t number = 0;  // its number: the one its references were reported with
    std::string_view name;     // the property, lower-cased
    // Its value holds nothing that any browser of today might reject: no "!", no
    // escape, and no function but the gradients, the colours, calc(), and format() and
    // local() of a font's sources.
    bool plain = true;
    bool bang = false;  // "!" in its value (!important, or an old browser's hack)
};

// What a reader reports about the structure of a stylesheet (see TrackDeclarations).
// Calls come in the order of the input, on the reader's caller's thread.
class CssDeclarationSink {
public:
    virtual ~CssDeclarationSink() = default;
    // A reference reported to the ScanSink at `offset`, found while declaration number
    // `declaration` was open (a reference outside any declaration, as in a selector or an
    // @import, carries a number that no Declared call has).
    virtual void Reference(std::uint64_t offset, std::uint32_t declaration) = 0;
    // A declaration ended (at ";" or "}"). Only declarations inside a block are told.
    virtual void Declared(const CssDeclaration& declaration) = 0;
    // The block numbered `block` ended.
    virtual void BlockEnded(std::uint32_t block) = 0;
};

// Finds the references of a stylesheet, of a STYLE element's text or of a style
// attribute: every url(...) (unquoted or quoted, CSS escapes decoded) and every
// @import with a string or a url(). Reports each to the sink as link kind 1 with its
// offset, and writes everything else through unchanged. A reference may straddle any
// boundary between two Feeds; memory is bounded by kMaxLinkValue whatever the input.
// Pure: no I/O beyond the sink. One reader serves one document at a time.
class CssReader {
public:
    void Feed(const char* data, std::size_t size, ScanSink& sink);
    // Ends the document: a reference still open is written out as it stands.
    void Finish(ScanSink& sink);
    // Starts a document whose first byte is at `offset` of the input that offsets
    // are reported in.
    void Reset(std::uint64_t offset = 0);
    // Bytes held back for a reference not yet complete.
    std::size_t HeldBytes() const { return m_strHeld.size(); }
    // Reports the document's blocks and declarations to `sink` too (it must outlive the
    // reader's use; null stops it). Reset keeps it.
    void TrackDeclarations(CssDeclarationSink* sink) { m_pDeclarations = sink; }

private:
    enum class State : unsigned char {
        Normal,
        Slash,   // a "/" ended the last Feed
        Escape,  // a backslash outside values ended the last Feed
        Comment,
        String,         // a string that is no reference
        MatchUrl,       // "u", "ur" or "url" of url( read
        MatchImport,    // part of "@import" read
        ImportGap,      // white space after @import
        UrlOpen,        // white space after url(
        UrlQuoted,      // inside url("...")
        UrlAfterQuote,  // after the closing quote, before ")"
        UrlBare,        // inside url(...) without quotes
        UrlAfterBare,   // white space after an unquoted URL, before ")"
        ImportString,   // inside @import "..."
        BadUrl,         // the rest of a url( that is no reference, up to ")"
        LongValue,      // the rest of a reference too long to handle
    };

    void Complete(std::string_view held, ScanSink& sink);
    // The index of the first `stop` in data[i..size) that no backslash escapes, or size
    // (the escape state carries over to the next Feed).
    std::size_t SkipToUnescaped(const char* data, std::size_t i, std::size_t size, char stop);
    void Abandon(std::string_view held, ScanSink& sink);
    // Follows the blocks and declarations through one byte of plain text.
    void Track(unsigned char c);
    void TrackText(std::string_view text) {
        for (char c : text)
            Track(static_cast<unsigned char>(c));
    }
    void EndDeclaration();

    enum class DeclPhase : unsigned char { Start, Name, AfterName, Value, Other };
    static constexpr std::size_t kMaxDepth = 256;
    static constexpr std::size_t kMaxName = 64;

    State m_state = State::Normal;
    unsigned m_match = 0;        // characters of "url(" or "@import" matched
    char m_quote = 0;            // the quote of the current string
    bool m_escape = false;       // the last byte was a backslash inside a value
    unsigned m_hexDigits = 0;    // hex digits of an escape in an unquoted URL so far
    bool m_star = false;         // the last byte of a comment was "*"
    bool m_afterName = false;    // the last byte continued a name (so "url(" is no function)
    bool m_import = false;       // the url( follows @import
    bool m_longQuoted = false;   // a LongValue that is still inside quotes
    std::size_t m_valueEnd = 0;  // bytes of the held text that are the value
    std::uint64_t m_offset = 0;  // input offset of the next Feed's first byte
    std::uint64_t m_valueOffset = 0;
    std::string m_strHeld;  // the reference so far when it straddles Feeds

    // Declarations, when tracked.
    CssDeclarationSink* m_pDeclarations = nullptr;
    DeclPhase m_phase = DeclPhase::Start;
    bool m_declPlain = true;
    bool m_declBang = false;
    std::uint32_t m_declNumber = 0;
    std::uint32_t m_blockCount = 0;
    std::size_t m_tooDeep = 0;            // blocks opened past kMaxDepth
    std::vector<std::uint32_t> m_blocks;  // the open blocks, innermost last
    std::string m_strName;                // the property so far
    std::string m_strWord;                // the word of the value so far (a function's name)
};

// CSS escapes decoded: "\" and 1 to 6 hex digits (and one white space after them),
// a backslash before a newline removed, before any other byte that byte.
std::string DecodeCssEscapes(std::string_view raw);
// A value written back: inside quotes `quote`, or unquoted in url() when `quote` is 0.
std::string EncodeCssValue(std::string_view text, char quote);

}  // namespace tandril
