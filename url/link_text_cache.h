#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tandril {

// The texts decided for links of one page context, found by the link as written.
// A fixed table: each link has the one slot its hash picks, and a newer link takes
// an older one's slot, so memory stays at kSlots entries whatever a page holds.
// Clear() forgets everything at once. One thread at a time.
class CLinkTextCache {
public:
    static constexpr std::size_t kSlots = 8192;

    // The text kept for `link`, or null. Valid until the next Put or Clear.
    const std::string* Find(const std::string& link) const;
    void Put(const std::string& link, const std::string& text);
    void Clear() { ++m_generation; }

private:
    struct Entry {
        std::uint64_t generation = 0;  // the entry is current when it equals m_generation
        std::size_t hash = 0;
        std::string link;
        std::string text;
    };
    std::vector<Entry> m_entries;  // kSlots once the first text is kept
    std::uint64_t m_generation = 1;
};

}  // namespace tandril
