#include "url/link_text_cache.h"

#include <cstring>

namespace tandril {

std::uint64_t CLinkTextCache::Hash(std::string_view text) {
    // Eight bytes at a time, one multiply each; the last word may overlap the one
    // before it. A match is checked byte for byte, so only the spread matters.
    constexpr std::uint64_t kMul = 0x9E3779B97F4A7C15ull;
    const std::size_t n = text.size();
    std::uint64_t h = n * kMul;
    if (n < 8) {
        std::uint64_t word = 0;
        std::memcpy(&word, text.data(), n);
        h = (h ^ word) * kMul;
    } else {
        std::uint64_t word;
        for (std::size_t i = 0; i + 8 < n; i += 8) {
            std::memcpy(&word, text.data() + i, 8);
            h = (h ^ word) * kMul;
        }
        std::memcpy(&word, text.data() + n - 8, 8);
        h = (h ^ word) * kMul;
    }
    // The high bits of a product depend on every byte: they pick the slot.
    return h;
}

std::optional<std::string_view> CLinkTextCache::Find(std::string_view link,
                                                     std::uint32_t* tag) const {
    if (m_slots.empty())
        return std::nullopt;
    const std::uint64_t hash = Hash(link);
    const Slot& s = m_slots[hash >> (64 - kSlotBits)];
    if (s.generation != m_generation || s.check != static_cast<std::uint32_t>(hash) ||
        s.linkSize != link.size())
        return std::nullopt;
    const char* stored = m_store.data() + s.offset;
    if (std::memcmp(stored, link.data(), link.size()) != 0)
        return std::nullopt;
    if (tag)
        std::memcpy(tag, stored + s.linkSize, sizeof(std::uint32_t));
    return std::string_view(stored + s.linkSize + sizeof(std::uint32_t), s.textSize);
}

void CLinkTextCache::Put(std::string_view link, std::string_view text, std::uint32_t tag) {
    if (link.size() > kMaxEntryBytes || text.size() > kMaxEntryBytes)
        return;
    if (m_slots.empty()) {
        m_slots.resize(kSlots);
        m_store.reserve(kStoreBytes);
    }
    if (m_store.size() + link.size() + sizeof(tag) + text.size() > kStoreBytes)
        Clear();
    const std::uint64_t hash = Hash(link);
    Slot& s = m_slots[hash >> (64 - kSlotBits)];
    s.generation = m_generation;
    s.check = static_cast<std::uint32_t>(hash);
    s.offset = static_cast<std::uint32_t>(m_store.size());
    s.linkSize = static_cast<std::uint16_t>(link.size());
    s.textSize = static_cast<std::uint16_t>(text.size());
    m_store.append(link);
    m_store.append(reinterpret_cast<const char*>(&tag), sizeof(tag));
    m_store.append(text);
}

void CLinkTextCache::Clear() {
    m_store.clear();
    if (++m_generation == 0) {
        // After 2^32 clears an old slot could look current: wipe the table instead.
        for (Slot& s : m_slots)
            s = Slot{};
        m_generation = 1;
    }
}

}  // namespace tandril
