#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tandril {

// What a scanner (HTML or CSS) reports while it reads a document. Calls come in the
// order of the input, on the scanner's caller's thread. A sink may throw (a failed
// write): the scan is then abandoned and the scanner must be Reset before reuse.
class ScanSink {
public:
    virtual ~ScanSink() = default;
    // The next bytes of the output.
    virtual void Write(const char* data, std::size_t size) = 0;
    // A reference found at byte `offset` of the input, decoded as the document's
    // language reads it, with its link kind. The sink may change `value`; a changed
    // value is encoded again and takes the original's place in the output, an
    // unchanged one keeps the original bytes.
    virtual void Link(std::string& value, int kind, std::uint64_t offset) = 0;
    // The CONTENT of a <meta name="robots"> tag.
    virtual void RobotsDirective(std::string_view /*content*/) {}
};

// A reference longer than this is written out as it stands and not reported.
constexpr std::size_t kMaxLinkValue = 1024 * 1024;

}  // namespace tandril
