#include "url/link_text_cache.h"

#include <functional>

namespace tandril {

const std::string* CLinkTextCache::Find(const std::string& link) const {
    if (m_entries.empty())
        return nullptr;
    const std::size_t hash = std::hash<std::string>{}(link);
    const Entry& e = m_entries[hash & (kSlots - 1)];
    if (e.generation == m_generation && e.hash == hash && e.link == link)
        return &e.text;
    return nullptr;
}

void CLinkTextCache::Put(const std::string& link, const std::string& text) {
    if (m_entries.empty())
        m_entries.resize(kSlots);
    const std::size_t hash = std::hash<std::string>{}(link);
    Entry& e = m_entries[hash & (kSlots - 1)];
    e.generation = m_generation;
    e.hash = hash;
    e.link = link;
    e.text = text;
}

}  // namespace tandril
