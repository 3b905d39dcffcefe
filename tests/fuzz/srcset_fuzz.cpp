// libFuzzer target over the srcset and refresh readers: every range lies inside the
// value, ranges come in order without overlap, and a URL never holds white space.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "html/value_readers.h"

using namespace tandril;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view value(reinterpret_cast<const char*>(data), size);
    std::size_t end = 0;
    for (const ValueRange& r : ReadSrcset(value)) {
        if (r.size == 0 || r.start < end || r.start + r.size > value.size())
            std::abort();
        for (char c : value.substr(r.start, r.size))
            if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f')
                std::abort();
        if (value[r.start + r.size - 1] == ',')
            std::abort();
        end = r.start + r.size;
    }
    if (auto r = ReadRefreshUrl(value)) {
        if (r->size == 0 || r->start + r->size > value.size())
            std::abort();
    }
    return 0;
}
