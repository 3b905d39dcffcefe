#pragma once

#include <string>
#include <string_view>

namespace tandril {

// An HTML attribute value as a browser reads it before it uses it as a URL: numeric
// character references (decimal and hexadecimal) and the named ones amp, lt, gt,
// quot, apos and nbsp decoded (other names stay as written), leading and trailing
// ASCII white space removed, and tab, CR and LF inside removed.
std::string DecodeAttributeValue(std::string_view raw);
// The same into `out` (its capacity reused).
void DecodeAttributeValue(std::string_view raw, std::string& out);

// The text to write for a value that was rewritten: "&" as "&amp;" and the quote
// that encloses it as a reference. `quote` is '"', '\'' or 0 for an unquoted value,
// where white space, quotes, ">" and "`" are written as references too.
std::string EncodeAttributeValue(std::string_view text, char quote);
// False when EncodeAttributeValue would return the text unchanged.
bool NeedsAttributeEncoding(std::string_view text, char quote);

}  // namespace tandril
