#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/copy_record.h"

namespace tandril {

// The tail of a copy's record: the changes of each file, appended to a plain file as
// soon as the file is done (one write, no sync), so that a run killed between two
// commits of the record loses none of the files it had placed. The record commits in
// groups; each commit notes the last entry it holds, and an opening of the record applies
// the entries after it.
//
// An entry: its length and a hash of its bytes (4 bytes each), then its sequence
// number, the file's changes and the run's counts after it. A torn or damaged entry ends
// the journal there.
struct JournalEntry {
    std::uint64_t seq = 0;
    std::vector<RecordChange> changes;
    CopyTallies tallies;
};
void AppendJournalEntry(std::string& out, std::uint64_t seq, const CChangeList& changes,
                        const CopyTallies& tallies);
// The whole entries at the start of `bytes`, in order.
std::vector<JournalEntry> ReadJournalEntries(std::string_view bytes);

// The journal file, open for appending. Owns its descriptor. Used by one thread.
class CJournalFile {
public:
    CJournalFile() = default;
    ~CJournalFile();
    CJournalFile(const CJournalFile&) = delete;
    CJournalFile& operator=(const CJournalFile&) = delete;

    // Opens (creating) the file at `path` empty; false when it cannot be made.
    bool OpenEmpty(const std::string& path);
    bool IsOpen() const { return m_fd >= 0; }
    // Appends `bytes` whole after the last entry; false (and the journal is given up) on
    // any failure.
    bool Append(std::string_view bytes);
    // Starts again from the file's beginning. What lies past the newest entry then is
    // zeros, a torn entry, or whole entries that the record already holds (their
    // numbers are not above its last commit's): reading stops or skips them.
    bool Truncate();
    void Close();

private:
    // Sets room aside on disk up to at least `size` bytes, so that an entry changes
    // neither the file's size nor its blocks (on ext4 that is most of an append's cost).
    void Reserve(std::uint64_t size);

    int m_fd = -1;
    std::uint64_t m_end = 0;       // where the next entry goes
    std::uint64_t m_reserved = 0;  // bytes set aside so far
    bool m_bCanReserve = true;     // the file system sets room aside (fallocate)
};

}  // namespace tandril
