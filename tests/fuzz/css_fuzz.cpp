// libFuzzer target over the CSS reader. The first byte picks the piece size; the rest
// is the stylesheet. Oracles:
//  - with a sink that changes nothing, the output equals the input byte for byte;
//  - the references found do not depend on where the pieces are cut;
//  - with every reference rewritten, nothing crashes and memory stays bounded;
//  - the references a fallback finder names are references the reader reports, the same
//    wherever the pieces are cut.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "css/css_fallbacks.h"
#include "css/css_reader.h"

using namespace tandril;

namespace {

class Sink : public ScanSink {
public:
    explicit Sink(bool rewrite) : m_rewrite(rewrite) {}
    void Write(const char* data, std::size_t size) override { output.append(data, size); }
    void Link(std::string& value, int, std::uint64_t offset) override {
        values.push_back(value);
        offsets.push_back(offset);
        if (m_rewrite)
            value = "../x (\"'\\\n" + value;
    }
    std::string output;
    std::vector<std::string> values;
    std::vector<std::uint64_t> offsets;

private:
    bool m_rewrite;
};

void Read(const std::string& css, std::size_t piece, Sink& sink) {
    CssReader reader;
    for (std::size_t pos = 0; pos < css.size(); pos += piece) {
        reader.Feed(css.data() + pos, std::min(piece, css.size() - pos), sink);
        if (reader.HeldBytes() > kMaxLinkValue + 64 + piece)
            std::abort();
    }
    reader.Finish(sink);
}

std::vector<std::uint64_t> Fallbacks(const std::string& css, std::size_t piece) {
    CssFallbackFinder finder;
    for (std::size_t pos = 0; pos < css.size(); pos += piece)
        finder.Feed(css.data() + pos, std::min(piece, css.size() - pos));
    return finder.Finish();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    const std::size_t piece = 1 + data[0] % 97;
    const std::string css(reinterpret_cast<const char*>(data + 1), size - 1);
    Sink same(false), whole(false), rewritten(true);
    Read(css, piece, same);
    Read(css, css.size() + 1, whole);
    if (same.output != css || same.values != whole.values)
        std::abort();
    Read(css, piece, rewritten);
    // A rewritten value read back must be the same value.
    Sink again(false);
    Read(rewritten.output, 4096, again);
    if (again.values.size() < rewritten.values.size())
        std::abort();
    const std::vector<std::uint64_t> fallbacks = Fallbacks(css, piece);
    if (fallbacks != Fallbacks(css, css.size() + 1))
        std::abort();
    for (std::uint64_t offset : fallbacks) {
        if (!std::binary_search(whole.offsets.begin(), whole.offsets.end(), offset))
            std::abort();
    }
    return 0;
}
