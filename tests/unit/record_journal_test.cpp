// The journal of a copy's record: entries read back whole, and a torn or damaged entry
// ends it there.
#include <gtest/gtest.h>

#include "engine/record_journal.h"
#include "tests/support/test_support.h"

namespace tandril {
namespace {

// The changes of one file, of every kind: as the list the worker writes, and as the
// record reads each one back.
struct FileChanges {
    CChangeList list;
    std::vector<RecordChange> want;

    template <typename Change>
    void Add(const Change& change) {
        list.Add(change);
        want.emplace_back(Change(change));
    }
};

FileChanges ChangesOf(std::uint32_t id) {
    FileChanges changes;
    changes.Add(UrlMet{id, "http://h/p" + std::to_string(id) + ".php?a=1&b=\xe9",
                       LocalName{"p.php@a=1", "/"}, LocalName{"p.php@a=1", "/d/"}, 3});
    UrlDone done;
    done.id = id;
    done.name = LocalName{"p.php@a=1.html", "/"};
    done.status = 200;
    done.etag = "\"e\"";
    done.modified = "Tue, 08 Dec 2026 10:00:00 GMT";
    done.type = "text/html";
    done.size = 1234567890123ull;
    changes.Add(done);
    std::string notes;
    PutRecordNumber(notes, id + 1);
    PutRecordNumber(notes, 300000);
    changes.Add(PageAdded{7, id, LocalName{"p.php@a=1.html", "/"}, true, notes});
    std::string links;
    EncodeLink(links, 0, "a.html", "a.html");
    EncodeLink(links, 1, std::string("x\0y", 3), "file:///tmp/x%00y");
    changes.Add(PageLinks{id, "http://h/", true, links});
    changes.Add(FileResized{id, 77, true});
    changes.Add(HostAdded{"https://other.test/"});
    changes.Add(UrlKeptOut{"http://h/private/", UrlState::Excluded});
    UrlDone failed;
    failed.id = id + 1;
    failed.state = UrlState::Gone;
    failed.name = LocalName{"q.html", "/"};
    failed.reason = "HTTP 410";
    changes.Add(failed);
    return changes;
}

void ExpectSameChange(const RecordChange& got, const RecordChange& want) {
    EXPECT_EQ(got.what, want.what);
    EXPECT_EQ(got.state, want.state);
    EXPECT_EQ(got.flag, want.flag);
    EXPECT_EQ(got.id, want.id);
    EXPECT_EQ(got.number, want.number);
    EXPECT_EQ(got.status, want.status);
    EXPECT_EQ(got.size, want.size);
    EXPECT_EQ(got.url, want.url);
    EXPECT_EQ(got.base, want.base);
    EXPECT_EQ(got.name, want.name);
    EXPECT_EQ(got.etag, want.etag);
    EXPECT_EQ(got.modified, want.modified);
    EXPECT_EQ(got.type, want.type);
    EXPECT_EQ(got.reason, want.reason);
    EXPECT_EQ(got.links, want.links);
}

TEST(RecordJournal, EntriesReadBackUntilTheFirstBrokenOne) {
    std::string bytes;
    CopyTallies tallies;
    std::size_t third = 0;
    for (std::uint32_t i = 1; i <= 3; ++i) {
        if (i == 3)
            third = bytes.size() + 6;  // inside entry 3's head
        tallies.files = i;
        tallies.unchanged = 10 * i;
        AppendJournalEntry(bytes, 100 + i, ChangesOf(i).list, tallies);
    }
    struct Case {
        const char* name;
        std::string bytes;
        std::size_t whole;
    };
    std::string flipped = bytes;
    flipped[bytes.size() - 5] ^= 1;  // a byte of the last entry
    std::string badLength = bytes;
    badLength[0] = '\xff';  // the first entry claims more than there is
    const Case cases[] = {
        {"all", bytes, 3},
        {"torn last entry", bytes.substr(0, bytes.size() - 1), 2},
        {"cut in the third entry's head", bytes.substr(0, third), 2},
        {"flipped byte", flipped, 2},
        {"first length too long", badLength, 0},
        {"empty", "", 0},
        {"less than a head", bytes.substr(0, 7), 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto entries = ReadJournalEntries(c.bytes);
        ASSERT_EQ(entries.size(), c.whole);
        for (std::size_t i = 0; i < entries.size(); ++i) {
            const auto id = static_cast<std::uint32_t>(i + 1);
            const JournalEntry& e = entries[i];
            EXPECT_EQ(e.seq, 100 + id);
            EXPECT_EQ(e.tallies.files, id);
            EXPECT_EQ(e.tallies.unchanged, 10 * id);
            const std::vector<RecordChange> want = ChangesOf(id).want;
            ASSERT_EQ(e.changes.size(), want.size());
            for (std::size_t k = 0; k < want.size(); ++k) {
                SCOPED_TRACE(k);
                ExpectSameChange(e.changes[k], want[k]);
            }
            std::vector<RecordedLink> links;
            ASSERT_TRUE(DecodeLinks(e.changes[3].links, links));
            ASSERT_EQ(links.size(), 2u);
            EXPECT_EQ(links[1].found, std::string("x\0y", 3));
            EXPECT_EQ(links[1].written, "file:///tmp/x%00y");
            EXPECT_EQ(links[0].written, "a.html");
        }
    }
}

// The file keeps its room after a new start: what lies past the newest entries is
// zeros, torn bytes or entries the record already holds (no higher numbers).
TEST(RecordJournal, AFileStartedAgainReadsBackItsNewEntriesFirst) {
    test::CTempDir dir;
    const std::string path = dir.Path() + "copy.journal";
    const auto readAll = [&path] { return test::ReadFile(path); };
    CJournalFile journal;
    ASSERT_TRUE(journal.OpenEmpty(path));
    CopyTallies tallies;
    for (std::uint32_t i = 1; i <= 40; ++i) {
        std::string entry;
        AppendJournalEntry(entry, i, ChangesOf(i).list, tallies);
        ASSERT_TRUE(journal.Append(entry));
    }
    std::vector<JournalEntry> entries = ReadJournalEntries(readAll());
    ASSERT_EQ(entries.size(), 40u);
    EXPECT_EQ(entries.back().seq, 40u);
    // Entries 1 to 40 are in the record; the journal starts again with shorter entries.
    ASSERT_TRUE(journal.Truncate());
    for (std::uint32_t i = 41; i <= 43; ++i) {
        std::string entry;
        CChangeList changes;
        changes.Add(UrlMet{i, "http://h/" + std::to_string(i), LocalName{}, LocalName{}, 1});
        AppendJournalEntry(entry, i, changes, tallies);
        ASSERT_TRUE(journal.Append(entry));
    }
    journal.Close();
    entries = ReadJournalEntries(readAll());
    ASSERT_GE(entries.size(), 3u);
    for (std::uint32_t i = 0; i < 3; ++i)
        EXPECT_EQ(entries[i].seq, 41 + i);
    for (std::size_t i = 3; i < entries.size(); ++i)
        EXPECT_LE(entries[i].seq, 40u);
}

}  // namespace
}  // namespace tandril
