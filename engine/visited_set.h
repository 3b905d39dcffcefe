#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "url/local_path.h"

namespace tandril {

// The URLs a run has met, keyed by their base local name (URLs saved as one file are
// one entry), each with an id, the name its file has (the name expected from its
// link until it is fetched, then the one its type gave it) and, while it is not
// fetched, the pages whose saved links were written for the expected name.
//
// Owned by the job; used by the worker thread during a run only.
class CVisitedSet {
public:
    static constexpr std::uint32_t kNone = UINT32_MAX;

    // The id of the entry for `base`, or kNone.
    std::uint32_t Find(const LocalName& base) const;
    // Adds an entry; kNone when `base` is there already (nothing changes then).
    std::uint32_t Insert(const LocalName& base, LocalName name);
    const LocalName& Name(std::uint32_t id) const { return m_entries[id].name; }
    bool Fetched(std::uint32_t id) const { return m_entries[id].fetched; }
    // Notes that page `page` wrote a link to entry `id` while it was not fetched
    // (once per page; a fetched entry needs no note). True when the note was new.
    bool NoteLink(std::uint32_t id, std::uint32_t page);
    // Marks the entry fetched and saved as `name`. When that differs from the name
    // its links were written for, returns the pages that wrote them.
    std::vector<std::uint32_t> MarkFetched(std::uint32_t id, const LocalName& name);
    // Marks the entry as a file the run could not fetch; returns the pages that wrote
    // links to its name.
    std::vector<std::uint32_t> MarkFailed(std::uint32_t id);
    bool Failed(std::uint32_t id) const { return m_entries[id].failed; }

    std::size_t size() const { return m_entries.size(); }
    bool empty() const { return m_entries.empty(); }
    std::size_t count(const LocalName& base) const { return Find(base) == kNone ? 0 : 1; }
    void clear();

private:
    static std::string Key(const LocalName& base) { return base.localDir + base.fileName; }
    struct Entry {
        LocalName name;
        bool fetched = false;  // or failed: no page needs noting any more
        bool failed = false;
        std::uint32_t lastPage = kNone;
        std::vector<std::uint32_t> pages;
    };
    std::unordered_map<std::string, std::uint32_t> m_ids;
    std::vector<Entry> m_entries;
};

}  // namespace tandril
