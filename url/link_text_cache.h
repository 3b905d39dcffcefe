#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tandril {

// The texts decided for links of one page context, found by the link as written.
// A fixed table: each link has the one slot its hash picks, and a newer link takes
// an older one's slot. Links and texts live in one byte store beside the table, so a
// lookup touches a 16-byte slot and one run of bytes (the link, a four-byte tag, the text); when
// the store would pass kStoreBytes everything is forgotten and it starts again. Memory stays
// bounded whatever a page holds. Clear() forgets everything at once. One thread at a time.
class CLinkTextCache {
public:
    static constexpr int kSlotBits = 13;
    static constexpr std::size_t kSlots = std::size_t{1} << kSlotBits;
    static constexpr std::size_t kStoreBytes = std::size_t{1} << 20;
    // Longer links or texts are not kept (they are rare and would crowd the store).
    static constexpr std::size_t kMaxEntryBytes = 4096;

    static constexpr std::uint32_t kNoTag = UINT32_MAX;
    // The text kept for `link`, or nothing. Valid until the next Put or Clear. `tag`,
    // when given, receives the number kept with the text.
    std::optional<std::string_view> Find(std::string_view link, std::uint32_t* tag = nullptr) const;
    void Put(std::string_view link, std::string_view text, std::uint32_t tag = kNoTag);
    void Clear();

    // The slot a link takes (for tests that need two links in one slot).
    static std::size_t SlotOf(std::string_view link) { return Hash(link) >> (64 - kSlotBits); }

private:
    struct Slot {
        std::uint32_t generation = 0;  // the slot is current when it equals m_generation
        std::uint32_t check = 0;       // the hash's low half
        std::uint32_t offset = 0;      // of the link in m_store; the text follows it
        std::uint16_t linkSize = 0;
        std::uint16_t textSize = 0;
    };
    static std::uint64_t Hash(std::string_view text);

    std::vector<Slot> m_slots;  // kSlots once the first text is kept
    std::string m_store;
    std::uint32_t m_generation = 1;
};

}  // namespace tandril
