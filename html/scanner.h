#pragma once

#include <cstddef>

namespace tandril {

// Scanner states, kept in CMirrorJob::m_nScanState between chunks. 0 is plain text.
enum ScanState : int {
    kScanText = 0,
    kScanTagStart,     // after '<'
    kScanTagName,      // letters of a tag name
    kScanAttrGap,      // whitespace between attributes
    kScanAttrName,     // an attribute's name
    kScanAfterName,    // whitespace after an attribute's name
    kScanValueOpen,    // after '=' of the link attribute
    kScanQuotedValue,  // inside the link value's quotes
    kScanBareValue,    // an unquoted link value
    kScanSkipOpen,     // after '=' of another attribute
    kScanSkipQuoted,   // inside another attribute's quotes
    kScanSkipBare,     // another attribute's unquoted value
    kScanLongQuoted,   // the rest of an over-long quoted link value, copied as it stands
    kScanLongBare,     // the rest of an over-long unquoted link value
};

// A link value that grows past this is written out as it stands and not handled.
constexpr std::size_t kMaxLinkValue = 1024 * 1024;

}  // namespace tandril
