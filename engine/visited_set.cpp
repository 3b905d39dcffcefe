#include "engine/visited_set.h"

namespace tandril {

std::uint32_t CVisitedSet::Find(const LocalName& base) const {
    const auto it = m_ids.find(Key(base));
    return it == m_ids.end() ? kNone : it->second;
}

std::uint32_t CVisitedSet::Insert(const LocalName& base, LocalName name) {
    const auto id = static_cast<std::uint32_t>(m_entries.size());
    if (!m_ids.emplace(Key(base), id).second)
        return kNone;
    m_entries.push_back(Entry{std::move(name), false, false, kNone, {}});
    return id;
}

bool CVisitedSet::NoteLink(std::uint32_t id, std::uint32_t page) {
    Entry& entry = m_entries[id];
    if (entry.fetched || entry.lastPage == page)
        return false;
    entry.lastPage = page;
    entry.pages.push_back(page);
    return true;
}

std::vector<std::uint32_t> CVisitedSet::MarkFetched(std::uint32_t id, const LocalName& name) {
    Entry& entry = m_entries[id];
    std::vector<std::uint32_t> pages;
    if (!(entry.name == name))
        pages = std::move(entry.pages);
    entry.pages = {};
    entry.pages.shrink_to_fit();
    entry.name = name;
    entry.fetched = true;
    return pages;
}

std::vector<std::uint32_t> CVisitedSet::MarkFailed(std::uint32_t id) {
    Entry& entry = m_entries[id];
    std::vector<std::uint32_t> pages = std::move(entry.pages);
    entry.pages = {};
    entry.fetched = true;
    entry.failed = true;
    return pages;
}

void CVisitedSet::clear() {
    m_ids.clear();
    m_entries.clear();
}

}  // namespace tandril
