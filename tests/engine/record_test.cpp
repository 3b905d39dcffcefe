// The record of a copy: what it keeps of each URL, continuing a stopped copy (after a
// limit, and after the program was killed at many moments), and updating a finished
// copy with conditional requests.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <set>
#include <thread>

#include "engine/copy_record.h"
#include "engine/mirror_job.h"
#include "platform/sqlite_db.h"
#include "tests/engine/run_helper.h"
#include "tests/support/http_server.h"
#include "tests/support/test_support.h"

namespace tandril {
namespace {

using test::CHttpServer;
using test::CTempDir;

struct RecordRow {
    int state = -1;
    std::string file;  // "dir/file" below the download directory
    std::string reason;
    std::int64_t size = 0;
};

// The record's URLs, by URL.
std::map<std::string, RecordRow> ReadRecord(const std::string& dir) {
    std::map<std::string, RecordRow> rows;
    CSqliteDb db;
    if (!db.Open(CCopyRecord::PathFor(dir), CSqliteDb::Mode::ReadOnly))
        return rows;
    CSqliteStatement get(db, "SELECT url, state, dir, file, reason, size FROM urls");
    while (get.Next() == CSqliteStatement::Step::Row) {
        RecordRow row{static_cast<int>(get.Int(1)),
                      LocalPathOf(LocalName{get.Text(3), get.Text(2)}), get.Text(4), get.Int(5)};
        rows[get.Text(0)] = row;
    }
    CSqliteStatement keptOut(db, "SELECT url, state FROM kept_out");
    while (keptOut.Next() == CSqliteStatement::Step::Row)
        rows[keptOut.Text(0)] = RecordRow{static_cast<int>(keptOut.Int(1)), "", "", 0};
    return rows;
}

// The requests after the first `from`, without robots.txt.
std::vector<std::string> RequestsSince(CHttpServer& server, std::size_t from) {
    std::vector<std::string> out;
    const auto all = server.Requests();
    for (std::size_t i = from; i < all.size(); ++i) {
        if (all[i] != "/robots.txt")
            out.push_back(all[i]);
    }
    return out;
}

struct FileStamp {
    ino_t inode = 0;
    std::int64_t mtimeNs = 0;
    bool operator==(const FileStamp&) const = default;
};

FileStamp StampOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return {};
    return FileStamp{st.st_ino, st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec};
}

// Each state a URL can reach, and what the record keeps for it.
TEST(CopyRecord, EachStateIsKept) {
    CHttpServer server;
    server.SetFile("/robots.txt", "User-agent: *\nDisallow: /private/\n", "text/plain");
    server.SetPage("/index.html",
                   "<a href=a.html>a</a> <a href=b.php>b</a> <a href=missing.html>m</a> "
                   "<a href=skip/x.html>x</a> <a href=private/y.html>y</a> <img src=img.gif>");
    server.SetPage("/a.html", "<a href=index.html>home</a>");
    server.SetPage("/b.php", "<a href=a.html>a</a>");
    server.SetFile("/img.gif", "GIF89a", "image/gif");
    CTempDir tmp;
    CMirrorJob job;
    job.m_limits.m_nMaxLevels = 3;
    job.m_limits.m_skipPatterns = {"*/skip/*"};
    ASSERT_EQ(test::MirrorSite(job, server.Root() + "/index.html", tmp.Path()).end, RunEnd::Done);

    const auto rows = ReadRecord(tmp.Path());
    struct Expected {
        const char* path;
        UrlState state;
        const char* file;
        const char* reason;
    };
    const Expected table[] = {
        {"/index.html", UrlState::Fetched, "index.html", ""},
        {"/a.html", UrlState::Fetched, "a.html", ""},
        {"/b.php", UrlState::Fetched, "b.php.html", ""},  // its type renamed it
        {"/img.gif", UrlState::Fetched, "img.gif", ""},
        {"/missing.html", UrlState::Failed, "missing.html", "HTTP 404"},
        {"/skip/x.html", UrlState::Excluded, "", ""},  // met, never queued
        {"/private/y.html", UrlState::Refused, "", ""},
    };
    EXPECT_EQ(rows.size(), std::size(table));
    for (const Expected& e : table) {
        SCOPED_TRACE(e.path);
        const auto it = rows.find(server.Root() + e.path);
        ASSERT_NE(it, rows.end());
        EXPECT_EQ(it->second.state, static_cast<int>(e.state));
        EXPECT_EQ(it->second.file, e.file);
        EXPECT_EQ(it->second.reason, e.reason);
        if (e.state == UrlState::Fetched) {
            EXPECT_EQ(it->second.size,
                      static_cast<std::int64_t>(test::ReadFile(tmp.Path() + e.file).size()));
        }
    }
    CopyInfo info = ReadCopyInfo(tmp.Path());
    EXPECT_EQ(info.kind, CopyInfo::Kind::Finished);
    EXPECT_EQ(info.startUrl, server.Root() + "/index.html");
    EXPECT_EQ(info.files, 4u);
    EXPECT_GT(info.finishedTime, 0);

    // Updated after a.html left the site: it is gone, and its file stays.
    server.Set("/a.html", test::Route{404, "gone"});
    const std::string before = test::ReadFile(tmp.Path() + "a.html");
    test::RunResult r = test::MirrorSite(job, server.Root() + "/index.html", tmp.Path());
    EXPECT_EQ(r.end, RunEnd::Done);
    EXPECT_EQ(ReadRecord(tmp.Path())[server.Root() + "/a.html"].state,
              static_cast<int>(UrlState::Gone));
    EXPECT_EQ(test::ReadFile(tmp.Path() + "a.html"), before);
    EXPECT_NE(std::find(r.lines.begin(), r.lines.end(),
                        "Gone from the site, its file is kept: " + server.Root() + "/a.html"),
              r.lines.end());
    // Files the server gives no validators for come again whole.
    EXPECT_EQ(r.lines[r.lines.size() - 2],
              "Updated: 0 unchanged, 3 changed, 0 new, 1 gone, 1 failed.");
}

// A URL met in one commit and settled in a later one: its row gathers the later changes
// (state, validators, links, notes) and keeps what they do not name.
TEST(CopyRecord, ChangesOfAUrlSpreadOverCommitsAddUp) {
    CTempDir tmp;
    const std::string start = "http://example.test/";
    CopySettings settings;
    settings.startUrl = start;
    const auto met = [](std::uint32_t id, const std::string& file) {
        return UrlMet{id, "http://example.test/" + file, LocalName{file, ""}, LocalName{file, ""},
                      1};
    };
    const auto done = [&tmp](std::uint32_t id, const std::string& file, const std::string& body,
                             const std::string& etag) {
        test::WriteFile(tmp.Path() + file, body);
        UrlDone d;
        d.id = id;
        d.name = LocalName{file, ""};
        d.status = 200;
        d.etag = etag;
        d.modified = "Thu, 01 Jan 2026 00:00:00 GMT";
        d.type = id == 2 ? "image/gif" : "text/html";
        d.size = body.size();
        return d;
    };
    std::string links;
    EncodeLink(links, 0, "img.gif", "img.gif");
    std::string notes;
    PutRecordNumber(notes, 2);  // the page waits for the image's name
    const auto batch = [&](CChangeList& changes, bool finished, CCopyRecord::Opened expected) {
        CCopyRecord record;
        ASSERT_EQ(record.Open(tmp.Path(), start, false), expected);
        ASSERT_TRUE(record.Begin(settings));
        record.Hand(changes, CopyTallies{});
        ASSERT_TRUE(record.End(finished));
    };

    {
        // The start page, fetched and scanned: it met a page and an image.
        CChangeList first;
        first.Add(met(0, "index.html"));
        first.Add(done(0, "index.html", "<a href=page.html>", "\"i\""));
        first.Add(met(1, "page.html"));
        first.Add(met(2, "img.gif"));
        batch(first, false, CCopyRecord::Opened::Fresh);
    }
    {
        // The page, in a later commit: fetched, its links, its notes.
        CChangeList second;
        second.Add(done(1, "page.html", "<img src=img.gif>", "\"p\""));
        second.Add(PageLinks{1, start + "page.html", true, links});
        second.Add(PageAdded{7, 1, LocalName{"page.html", ""}, false, notes});
        batch(second, false, CCopyRecord::Opened::Continue);
    }
    {
        CCopyRecord record;
        ASSERT_EQ(record.Open(tmp.Path(), start, false), CCopyRecord::Opened::Continue);
        RecordedCopy copy;
        ASSERT_TRUE(record.Load(copy));
        ASSERT_EQ(copy.urls.size(), 3u);
        EXPECT_EQ(copy.urls[1].state, UrlState::Fetched);
        EXPECT_EQ(copy.urls[2].state, UrlState::Queued);
        ASSERT_EQ(copy.pages.size(), 1u);
        EXPECT_EQ(copy.pages[0].page, 7u);
        EXPECT_EQ(copy.pages[0].id, 1u);
        ASSERT_EQ(copy.notes.size(), 1u);
        EXPECT_EQ(copy.notes[0].target, 2u);
        EXPECT_EQ(copy.notes[0].page, 7u);
        record.End(false);
    }
    {
        // The image, in a later commit still: a plain file leaves the link columns empty.
        CChangeList third;
        third.Add(done(2, "img.gif", "GIF89a", "\"g\""));
        batch(third, true, CCopyRecord::Opened::Continue);
    }
    CCopyRecord record;
    ASSERT_EQ(record.Open(tmp.Path(), start, false), CCopyRecord::Opened::Update);
    std::unordered_map<std::string, PreviousFile> previous;
    ASSERT_TRUE(record.LoadPrevious(previous));
    ASSERT_EQ(previous.size(), 3u);
    const PreviousFile& page = previous[start + "page.html"];
    EXPECT_TRUE(page.page);
    EXPECT_EQ(page.links, links);
    EXPECT_EQ(page.base, start + "page.html");
    EXPECT_TRUE(page.nofollow);
    EXPECT_EQ(page.etag, "\"p\"");
    const PreviousFile& image = previous[start + "img.gif"];
    EXPECT_FALSE(image.page);
    EXPECT_TRUE(image.links.empty());
    EXPECT_EQ(image.etag, "\"g\"");
    EXPECT_EQ(image.type, "image/gif");
    record.End(false);
}

// A page's new size is noted before its corrected text replaces it. A run killed in
// between leaves the old page, and the record keeps the size of the page on disk.
TEST(CopyRecord, ASizeNotedBeforeReplacingHoldsOnlyIfThePageWasReplaced) {
    for (const bool replaced : {false, true}) {
        SCOPED_TRACE(replaced ? "replaced" : "killed before replacing");
        CTempDir tmp;
        const std::string start = "http://example.test/";
        CopySettings settings;
        settings.startUrl = start;
        const std::string before = "<a href=data.php.html>data</a>";
        const std::string after = "<a href=data.php>data</a>";
        test::WriteFile(tmp.Path() + "index.html", before);
        {
            CCopyRecord record;
            ASSERT_EQ(record.Open(tmp.Path(), start, false), CCopyRecord::Opened::Fresh);
            ASSERT_TRUE(record.Begin(settings));
            CChangeList first;
            first.Add(
                UrlMet{0, start, LocalName{"index.html", ""}, LocalName{"index.html", ""}, 0});
            UrlDone done;
            done.id = 0;
            done.name = LocalName{"index.html", ""};
            done.status = 200;
            done.size = before.size();
            first.Add(std::move(done));
            record.Hand(first, CopyTallies{});
            ASSERT_TRUE(record.End(false));
        }
        {
            // The note alone reaches the journal; the run stops there.
            CCopyRecord record;
            ASSERT_EQ(record.Open(tmp.Path(), start, false), CCopyRecord::Opened::Continue);
            ASSERT_TRUE(record.Begin(settings, CopyTallies{1}));
            record.NoteReplacing(0, after.size());
            if (replaced)
                test::WriteFile(tmp.Path() + "index.html", after);
            record.End(false);
        }
        ASSERT_TRUE(test::FileExists(tmp.Path() + "%tandril/copy.journal"));
        CCopyRecord record;
        ASSERT_EQ(record.Open(tmp.Path(), start, false), CCopyRecord::Opened::Continue);
        RecordedCopy copy;
        ASSERT_TRUE(record.Load(copy));
        record.End(false);
        // Either way the page is the record's, and is not fetched again.
        ASSERT_EQ(copy.urls.size(), 1u);
        EXPECT_EQ(copy.urls[0].state, UrlState::Fetched);
        EXPECT_EQ(ReadRecord(tmp.Path())[start].size,
                  static_cast<std::int64_t>((replaced ? after : before).size()));
        EXPECT_EQ(copy.tallies.files, 1u);
    }
}

// A record that cannot be used changes nothing, and says why; a fresh start replaces it.
TEST(CopyRecord, RecordsThatCannotBeUsedAreLeftAlone) {
    CHttpServer server;
    server.SetPage("/index.html", "<a href=a.html>a</a>");
    server.SetPage("/a.html", "a");
    CTempDir tmp;
    CMirrorJob job;
    job.m_limits.m_nMaxLevels = 2;
    ASSERT_EQ(test::MirrorSite(job, server.Root() + "/index.html", tmp.Path()).end, RunEnd::Done);
    const std::string path = CCopyRecord::PathFor(tmp.Path());
    // The record's write-ahead log is folded into its file, so that the file is all of it.
    {
        CSqliteDb db;
        ASSERT_TRUE(db.Open(path, CSqliteDb::Mode::ReadWriteCreate));
        ASSERT_TRUE(db.Exec("PRAGMA wal_checkpoint(TRUNCATE);"));
    }
    for (const char* suffix : {"-wal", "-shm"})
        std::remove((path + suffix).c_str());
    const std::string good = test::ReadFile(path);

    struct Case {
        const char* name;
        std::string record;  // what the record file holds; empty: the good one
        std::string startUrl;
        std::string message;
    };
    std::string newer;
    {
        CSqliteDb db;
        ASSERT_TRUE(db.Open(path, CSqliteDb::Mode::ReadWriteCreate));
        ASSERT_TRUE(
            db.Exec("UPDATE settings SET value = '99' WHERE key = 'format';"
                    "PRAGMA wal_checkpoint(TRUNCATE);"));
        db.Close();
        newer = test::ReadFile(path);
        test::WriteFile(path, good);
    }
    const Case cases[] = {
        {"another start URL", "", server.Root() + "/a.html",
         "The download directory holds a copy of " + server.Root() +
             "/index.html. Please choose another directory, or tick \"Start afresh\" to make a "
             "new copy there."},
        {"damaged", std::string("SQLite format 3") + std::string(4000, '\x7f'),
         server.Root() + "/index.html",
         "The record of the copy in " + tmp.Path() +
             " cannot be read. Tick \"Start afresh\" to make a new record; the files already "
             "there are kept."},
        {"not a database", "hello", server.Root() + "/index.html",
         "The record of the copy in " + tmp.Path() +
             " cannot be read. Tick \"Start afresh\" to make a new record; the files already "
             "there are kept."},
        {"newer", newer, server.Root() + "/index.html",
         "The record of the copy in " + tmp.Path() +
             " was written by a newer version of Tandril. Tick \"Start afresh\" to make a new "
             "record; the files already there are kept."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string record = c.record.empty() ? good : c.record;
        for (const char* suffix : {"-wal", "-shm"})
            std::remove((path + suffix).c_str());
        test::WriteFile(path, record);
        const std::size_t requests = server.Requests().size();
        test::CMessageRecorder boxes;
        CMirrorJob other;
        test::RunResult r = test::MirrorSite(other, c.startUrl, tmp.Path());
        EXPECT_EQ(r.end, RunEnd::Failure);
        ASSERT_EQ(boxes.Texts().size(), 1u);
        EXPECT_EQ(boxes.Texts()[0], c.message);
        EXPECT_EQ(test::ReadFile(path), record);
        EXPECT_FALSE(test::FileExists(path + "-wal") && !test::ReadFile(path + "-wal").empty());
        EXPECT_EQ(server.Requests().size(), requests);

        // The user's yes: a fresh start makes a new record and keeps the files.
        other.m_bFreshStart = true;
        other.m_limits.m_nMaxLevels = 2;
        EXPECT_EQ(test::MirrorSite(other, c.startUrl, tmp.Path()).end, RunEnd::Done);
        EXPECT_EQ(ReadCopyInfo(tmp.Path()).startUrl, c.startUrl);
        EXPECT_TRUE(test::FileExists(tmp.Path() + "index.html"));
    }
}

// A chain of pages, each with an image, for runs that stop and go on. With `data`, each
// page also links to a file whose name says page and whose type says image: the page is
// saved before its link's target has its name, and the link is corrected when it has.
void SetChain(CHttpServer& server, int pages, bool data = false) {
    for (int i = 0; i < pages; ++i) {
        std::string body =
            "<p>page " + std::to_string(i) + "</p><img src=img" + std::to_string(i) + ".gif>";
        for (int j = i + 1; j <= i + 3 && j < pages; ++j)
            body += " <a href=p" + std::to_string(j) + ".php>p" + std::to_string(j) + "</a>";
        if (data) {
            body += " <a href=data" + std::to_string(i) + ".php>data</a>";
            server.SetFile("/data" + std::to_string(i) + ".php", "GIF89a" + std::to_string(i),
                           "image/gif");
        }
        server.SetPage("/p" + std::to_string(i) + ".php", body);
        server.SetFile("/img" + std::to_string(i) + ".gif", "GIF89a" + std::string(i, 'x'),
                       "image/gif");
    }
}

// The file limit counts the files of the whole copy; a run after the limit goes on
// where the last stopped, and the end is the copy one run would have made.
TEST(CopyRecord, LimitedRunsContinueToTheCopyOfOneRun) {
    CHttpServer server;
    SetChain(server, 30, true);
    const std::string start = server.Root() + "/p0.php";
    CTempDir once;
    {
        CMirrorJob job;
        job.m_limits.m_nMaxLevels = 100;
        job.m_limits.m_nMaxFiles = 1000;
        ASSERT_EQ(test::MirrorSite(job, start, once.Path()).end, RunEnd::Done);
    }
    for (bool relative : {true, false}) {
        SCOPED_TRACE(relative ? "portable links" : "file URLs");
        CTempDir tmp;
        std::size_t from = server.Requests().size();
        CMirrorJob job;
        job.m_limits.m_nMaxLevels = 100;
        job.m_limits.m_nMaxFiles = 12;
        job.m_limits.m_bRelativeLinks = relative;
        // Nothing is fetched ahead of its turn: no request is lost at the limit.
        job.m_limits.m_nMaxConnections = 1;
        test::RunResult first = test::MirrorSite(job, start, tmp.Path());
        EXPECT_EQ(first.end, RunEnd::Limit);
        CopyInfo info = ReadCopyInfo(tmp.Path());
        EXPECT_EQ(info.kind, CopyInfo::Kind::Unfinished);
        EXPECT_EQ(info.files, 12u);
        std::vector<std::string> seen = RequestsSince(server, from);

        // The same limit again: the copy has its 12 files already.
        from = server.Requests().size();
        test::RunResult second = test::MirrorSite(job, start, tmp.Path());
        EXPECT_EQ(second.end, RunEnd::Limit);
        EXPECT_TRUE(RequestsSince(server, from).empty());

        from = server.Requests().size();
        job.m_limits.m_nMaxFiles = 1000;
        test::RunResult r = test::MirrorSite(job, start, tmp.Path());
        EXPECT_EQ(r.end, RunEnd::Done);
        ASSERT_FALSE(r.lines.empty());
        EXPECT_EQ(r.lines[1].rfind("Continuing the copy: 12 files saved before, ", 0), 0u)
            << r.lines[1];
        for (const std::string& target : RequestsSince(server, from))
            seen.push_back(target);
        std::set<std::string> unique(seen.begin(), seen.end());
        EXPECT_EQ(unique.size(), seen.size()) << "a file was fetched twice";
        EXPECT_EQ(seen.size(), 90u);

        auto copy = test::ReadCopy(tmp.Path());
        auto expected = test::ReadCopy(once.Path());
        if (!relative) {
            // Links are file URLs into each copy's own directory.
            for (auto& [name, content] : expected) {
                for (std::size_t at; (at = content.find(once.Path())) != std::string::npos;)
                    content.replace(at, once.Path().size(), tmp.Path());
            }
        }
        if (relative) {
            CTempDir portable;
            CMirrorJob oneRun;
            oneRun.m_limits.m_nMaxLevels = 100;
            oneRun.m_limits.m_nMaxFiles = 1000;
            oneRun.m_limits.m_bRelativeLinks = true;
            ASSERT_EQ(test::MirrorSite(oneRun, start, portable.Path()).end, RunEnd::Done);
            expected = test::ReadCopy(portable.Path());
        }
        EXPECT_EQ(copy, expected);
        EXPECT_EQ(ReadCopyInfo(tmp.Path()).kind, CopyInfo::Kind::Finished);
    }
}

// mirror-bench killed with SIGKILL at many moments, then run again: the record after each
// kill calls fetched only files that are whole on disk, none of them is fetched again,
// and the end is the copy of one uninterrupted run.
TEST(CopyRecord, KilledRunsContinueToTheCopyOfOneRun) {
    CHttpServer server;
    SetChain(server, 500, true);
    server.SetAnswerDelay(4);
    const std::string start = server.Root() + "/p0.php";
    const auto runBench = [&](const std::string& dir, int killAfterMs) {
        const pid_t child = fork();
        if (child == 0) {
            const int null = ::open("/dev/null", O_WRONLY);
            dup2(null, 1);
            dup2(null, 2);
            execl(MIRROR_BENCH_PATH, "mirror-bench", "--url", start.c_str(), "--dir", dir.c_str(),
                  "--levels", "400", "--files", "100000", "--mb", "1000", "--relative-links",
                  "--connections", "2", static_cast<char*>(nullptr));
            _exit(127);
        }
        if (killAfterMs >= 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(killAfterMs));
            kill(child, SIGKILL);
        }
        int status = 0;
        waitpid(child, &status, 0);
        return status;
    };
    CTempDir once;
    const int onceStatus = runBench(once.Path(), -1);
    ASSERT_TRUE(WIFEXITED(onceStatus) && WEXITSTATUS(onceStatus) == 0);

    CTempDir tmp;
    int killed = 0;
    const std::size_t first = server.Requests().size();
    // Early kills too: what a run placed is kept even before the record's first commit.
    for (int killAfterMs : {120, 40, 200, 90, 60, 10, 170, 80, 150, 20}) {
        if (WIFSIGNALED(runBench(tmp.Path(), killAfterMs)))
            ++killed;
        if (ReadCopyInfo(tmp.Path()).kind == CopyInfo::Kind::Finished)
            break;
        // Opening the record takes its journal in, as the next run's opening does.
        {
            CCopyRecord record;
            ASSERT_EQ(record.Open(tmp.Path(), start, false), CCopyRecord::Opened::Continue);
            record.End(false);
        }
        const auto rows = ReadRecord(tmp.Path());
        std::set<std::string> saved;
        for (const auto& [url, row] : rows) {
            if (row.state != static_cast<int>(UrlState::Fetched))
                continue;
            saved.insert(url.substr(server.Root().size()));
            EXPECT_EQ(static_cast<std::int64_t>(test::ReadFile(tmp.Path() + row.file).size()),
                      row.size)
                << row.file << " is not whole";
        }
        // What the record calls saved is not asked for again by the next run.
        const std::size_t next = server.Requests().size();
        if (WIFSIGNALED(runBench(tmp.Path(), 30)))
            ++killed;
        for (const std::string& target : RequestsSince(server, next))
            EXPECT_EQ(saved.count(target), 0u) << target << " was fetched again";
    }
    EXPECT_GE(killed, 10);  // most runs were cut short
    const int lastStatus = runBench(tmp.Path(), -1);
    ASSERT_TRUE(WIFEXITED(lastStatus) && WEXITSTATUS(lastStatus) == 0);
    EXPECT_EQ(test::ReadCopy(tmp.Path()), test::ReadCopy(once.Path()));
    // Fetched twice: only what was in flight at a kill (two transfers, and the page
    // being read when its transfer had ended).
    const std::vector<std::string> all = RequestsSince(server, first);
    const std::set<std::string> distinct(all.begin(), all.end());
    EXPECT_LE(all.size() - distinct.size(), 3u * static_cast<unsigned>(killed));
    EXPECT_EQ(ReadCopyInfo(tmp.Path()).kind, CopyInfo::Kind::Finished);
}

// A finished copy updated: every file asked for with its validators, the unchanged left
// untouched, the changed replaced, the new fetched, the gone kept; the tree is a fresh
// copy of the changed site but for the gone file.
TEST(CopyUpdate, AsksWithValidatorsAndKeepsWhatDidNotChange) {
    struct Mode {
        const char* name;
        bool modify;
        bool relative;
    };
    for (const Mode mode : {Mode{"linked", true, false}, Mode{"portable", true, true},
                            Mode{"copy only", false, false}}) {
        SCOPED_TRACE(mode.name);
        CHttpServer server;
        const auto route = [](std::string body, std::string etag, std::string modified,
                              std::string type = "text/html") {
            test::Route r;
            r.body = std::move(body);
            r.etag = std::move(etag);
            r.lastModified = std::move(modified);
            r.contentType = std::move(type);
            return r;
        };
        const std::string monday = "Mon, 07 Dec 2026 10:00:00 GMT";
        server.Set("/index.html",
                   route("<a href=e.html>e</a> <a href=m.php>m</a> <a href=c.html>c</a> "
                         "<a href=gone.html>g</a> <img src=img.gif>",
                         "\"i1\"", ""));
        server.Set("/e.html", route("<a href=index.html>home</a> e", "\"e1\"", monday));
        server.Set("/m.php", route("<a href=c.html>c</a> m", "", monday));
        server.Set("/c.html", route("c, first version", "\"c1\"", ""));
        server.Set("/gone.html", route("soon gone", "\"g1\"", ""));
        server.Set("/img.gif", route("GIF89a", "", monday, "image/gif"));

        CTempDir tmp;
        CMirrorJob job;
        job.m_limits.m_nMaxLevels = 5;
        job.m_limits.m_bModifyLinks = mode.modify;
        job.m_limits.m_bRelativeLinks = mode.relative;
        ASSERT_EQ(test::MirrorSite(job, server.Root() + "/index.html", tmp.Path()).end,
                  RunEnd::Done);
        std::map<std::string, FileStamp> stamps;
        for (const char* file : {"index.html", "e.html", "m.php.html", "img.gif", "c.html"})
            stamps[file] = StampOf(tmp.Path() + file);
        const std::string goneBefore = test::ReadFile(tmp.Path() + "gone.html");

        // The site changes.
        server.Set("/c.html", route("c, second version <a href=new.html>new</a>", "\"c2\"", ""));
        server.Set("/new.html", route("<a href=c.html>c</a> new", "\"n1\"", ""));
        server.Set("/gone.html", test::Route{404, "not here"});
        std::this_thread::sleep_for(std::chrono::milliseconds(20));  // mtimes can tell

        const std::size_t from = server.Requests().size();
        const std::size_t headsFrom = server.RequestHeaders().size();
        test::RunResult r = test::MirrorSite(job, server.Root() + "/index.html", tmp.Path());
        EXPECT_EQ(r.end, RunEnd::Done);
        ASSERT_GE(r.lines.size(), 3u);
        EXPECT_EQ(r.lines[1], "Updating the copy: 6 files to check.");
        EXPECT_EQ(r.lines[r.lines.size() - 2],
                  "Updated: 4 unchanged, 1 changed, 1 new, 1 gone, 0 failed.");

        // Exactly these requests, with these conditions.
        struct Asked {
            const char* target;
            const char* ifNoneMatch;
            const char* ifModifiedSince;
        };
        const Asked expected[] = {
            {"/index.html", "\"i1\"", nullptr},  {"/e.html", "\"e1\"", monday.c_str()},
            {"/m.php", nullptr, monday.c_str()}, {"/c.html", "\"c1\"", nullptr},
            {"/gone.html", "\"g1\"", nullptr},   {"/img.gif", nullptr, monday.c_str()},
            {"/new.html", nullptr, nullptr},
        };
        const auto requests = server.Requests();
        const auto heads = server.RequestHeaders();
        std::map<std::string, std::string> headOf;
        std::vector<std::string> asked;
        for (std::size_t i = from; i < requests.size(); ++i) {
            if (requests[i] == "/robots.txt")
                continue;
            asked.push_back(requests[i]);
            headOf[requests[i]] = heads[headsFrom + (i - from)];
        }
        std::vector<std::string> wanted;
        for (const Asked& a : expected)
            wanted.push_back(a.target);
        std::sort(asked.begin(), asked.end());
        std::sort(wanted.begin(), wanted.end());
        EXPECT_EQ(asked, wanted);
        for (const Asked& a : expected) {
            SCOPED_TRACE(a.target);
            const std::string& head = headOf[a.target];
            const auto has = [&head](const std::string& line) {
                return head.find("\r\n" + line + "\r\n") != std::string::npos;
            };
            EXPECT_EQ(head.find("If-None-Match") != std::string::npos, a.ifNoneMatch != nullptr);
            if (a.ifNoneMatch != nullptr) {
                EXPECT_TRUE(has(std::string("If-None-Match: ") + a.ifNoneMatch));
            }
            EXPECT_EQ(head.find("If-Modified-Since") != std::string::npos,
                      a.ifModifiedSince != nullptr);
            if (a.ifModifiedSince != nullptr) {
                EXPECT_TRUE(has(std::string("If-Modified-Since: ") + a.ifModifiedSince));
            }
        }

        // The unchanged files were not touched; the changed one was replaced.
        for (const char* file : {"index.html", "e.html", "m.php.html", "img.gif"})
            EXPECT_EQ(StampOf(tmp.Path() + file), stamps[file]) << file;
        EXPECT_FALSE(StampOf(tmp.Path() + "c.html") == stamps["c.html"]);
        EXPECT_EQ(test::ReadFile(tmp.Path() + "gone.html"), goneBefore);

        // A fresh copy of the changed site is the same, but for the gone file.
        CTempDir fresh;
        CMirrorJob freshJob;
        freshJob.m_limits = job.m_limits;
        ASSERT_EQ(test::MirrorSite(freshJob, server.Root() + "/index.html", fresh.Path()).end,
                  RunEnd::Done);
        auto expectedCopy = test::ReadCopy(fresh.Path());
        for (auto& [name, content] : expectedCopy) {
            for (std::size_t at; (at = content.find(fresh.Path())) != std::string::npos;)
                content.replace(at, fresh.Path().size(), tmp.Path());
        }
        expectedCopy["gone.html"] = goneBefore;
        EXPECT_EQ(test::ReadCopy(tmp.Path()), expectedCopy);

        // Updated again at once: nothing changed, nothing is written.
        test::RunResult again = test::MirrorSite(job, server.Root() + "/index.html", tmp.Path());
        EXPECT_EQ(again.lines[again.lines.size() - 2],
                  "Updated: 6 unchanged, 0 changed, 0 new, 1 gone, 0 failed.");
    }
}

}  // namespace
}  // namespace tandril
