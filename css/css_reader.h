#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "html/scan_sink.h"

namespace tandril {

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
};

// CSS escapes decoded: "\" and 1 to 6 hex digits (and one white space after them),
// a backslash before a newline removed, before any other byte that byte.
std::string DecodeCssEscapes(std::string_view raw);
// A value written back: inside quotes `quote`, or unquoted in url() when `quote` is 0.
std::string EncodeCssValue(std::string_view text, char quote);

}  // namespace tandril
