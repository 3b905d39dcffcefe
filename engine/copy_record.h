#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/sqlite_db.h"
#include "url/local_path.h"

namespace tandril {

// The record of a copy: one SQLite database in the download directory, in the folder
// "%tandril" (a name no file of a site can take: a name made from a URL holds "%"
// only before two hex digits). It holds the settings the copy was made with, every
// URL the run met with its local name and state, the pages whose links wait for a
// target's name, and each saved page's links as the page had them, so that a run
// can be continued where it stopped and a finished copy updated with conditional
// requests.
//
// A URL is recorded fetched only after its file is whole in its place, and the worker
// hands its changes over file by file: killed at any moment, the record describes a
// moment between two files, and every file it calls fetched is on disk.

// Where a URL stands.
enum class UrlState : int {
    Queued = 0,
    Fetched = 1,
    Failed = 2,
    Refused = 3,
    Excluded = 4,
    Gone = 5
};

// The settings a copy is made with; a continued or updated copy keeps them.
struct CopySettings {
    std::string startUrl;
    bool modifyLinks = true;
    bool relativeLinks = false;
    bool offsiteEmbedded = true;
    bool obeyRobots = true;
    bool noParent = false;
    std::uint32_t maxLevels = 0;
    std::uint32_t maxFiles = 0;
    std::uint32_t maxMegaBytes = 0;
    std::vector<std::string> skipPatterns;
    std::vector<std::string> followPatterns;
};

// The run's counts that outlive a stop: the limits' tallies, and what an update did.
struct CopyTallies {
    std::uint32_t files = 0;
    std::uint32_t megaBytes = 0;
    std::uint32_t kiloRest = 0;
    std::uint32_t byteRest = 0;
    std::uint32_t unchanged = 0;
    std::uint32_t changed = 0;
    std::uint32_t added = 0;
    std::uint32_t gone = 0;
    std::uint32_t failed = 0;
};

// Changes a run makes, in the order it makes them.
struct UrlMet {  // a URL entered the visited set (and the queue) with id `id`
    std::uint32_t id = 0;
    std::string url;
    LocalName base;
    LocalName name;
    std::uint32_t level = 0;
};
struct UrlDone {  // a URL was fetched (its file placed) or given up
    std::uint32_t id = 0;
    UrlState state = UrlState::Fetched;
    LocalName name;
    long status = 0;
    std::string etag;
    std::string modified;
    std::string type;
    std::uint64_t size = 0;  // of the file as saved
    std::string reason;
};
struct LinkNoted {  // fix-up page `page` wrote a link for target `target`'s expected name
    std::uint32_t target = 0;
    std::uint32_t page = 0;
};
struct PageAdded {  // fix-up page `page` is the file saved as `name`
    std::uint32_t page = 0;
    std::uint32_t id = 0;  // its URL's id
    LocalName name;
    bool stylesheet = false;
    std::string notes;  // the targets its links wait for (see PutRecordNumber)
};
// A number of the record's own lists (a page's notes, links, the journal): 7 bits a byte,
// the lowest first. GetRecordNumber takes one from the front of `in`; false when it ends
// first.
void PutRecordNumber(std::string& out, std::uint64_t value);
bool GetRecordNumber(std::string_view& in, std::uint64_t& value);
struct PageLinks {  // the links of a saved page or stylesheet, as found and as written
    std::uint32_t id = 0;
    std::string base;  // the URL its links were resolved against
    bool nofollow = false;
    std::string links;  // see EncodeLink
};
struct FileResized {  // a saved page was rewritten (its links corrected)
    std::uint32_t id = 0;
    std::uint64_t size = 0;
    // Noted before the new text took the page's place: it holds only if the file has
    // this size (a run killed in between left the old one).
    bool beforeReplacing = false;
};
struct HostAdded {  // a host joined the site (where the start URL's redirects ended)
    std::string url;
};
struct UrlKeptOut {  // a link the scope keeps out (robots.txt, a skip pattern): not queued
    std::string url;
    UrlState state = UrlState::Refused;
};
// One change, as the record reads it back from the journal to write it: the fields its
// kind uses. (One flat struct rather than a variant: read and written in bulk.) Made
// from a change of the kinds above, it holds what CChangeList::Add encodes of it.
struct RecordChange {
    enum class What : std::uint8_t { Met, Done, Page, Links, Resized, Host, KeptOut };
    What what = What::Met;
    UrlState state = UrlState::Queued;
    bool flag = false;  // a stylesheet (Page), nofollow (Links), noted before replacing (Resized)
    std::uint32_t id = 0;      // the URL's id; the fix-up page (Page)
    std::uint32_t number = 0;  // the level (Met); the URL's id (Page)
    long status = 0;
    std::uint64_t size = 0;
    std::string url;  // Met, Host, KeptOut; the base (Links)
    LocalName base;
    LocalName name;
    std::string etag;
    std::string modified;
    std::string type;
    std::string reason;
    std::string links;  // the links (Links); the notes' targets (Page)

    RecordChange() = default;
    RecordChange(UrlMet&& c)
        : what(What::Met),
          id(c.id),
          number(c.level),
          url(std::move(c.url)),
          base(std::move(c.base)),
          name(std::move(c.name)) {}
    RecordChange(UrlDone&& c)
        : what(What::Done),
          state(c.state),
          id(c.id),
          status(c.status),
          size(c.size),
          name(std::move(c.name)),
          etag(std::move(c.etag)),
          modified(std::move(c.modified)),
          type(std::move(c.type)),
          reason(std::move(c.reason)) {}
    RecordChange(PageAdded&& c)
        : what(What::Page),
          flag(c.stylesheet),
          id(c.page),
          number(c.id),
          name(std::move(c.name)),
          links(std::move(c.notes)) {}
    RecordChange(PageLinks&& c)
        : what(What::Links),
          flag(c.nofollow),
          id(c.id),
          url(std::move(c.base)),
          links(std::move(c.links)) {}
    RecordChange(const FileResized& c)
        : what(What::Resized), flag(c.beforeReplacing), id(c.id), size(c.size) {}
    RecordChange(HostAdded&& c) : what(What::Host), url(std::move(c.url)) {}
    RecordChange(UrlKeptOut&& c) : what(What::KeptOut), state(c.state), url(std::move(c.url)) {}
};

// The changes of one file as the journal keeps them, encoded as they are made (no object
// per change: a run of small files pays for each one). Owned by the job until the worker
// hands it to the record; used by the worker thread only.
class CChangeList {
public:
    void Add(const UrlMet& c);
    // The same as Add(UrlMet), without copying the URL and names into one.
    void AddMet(std::uint32_t id, std::string_view url, const LocalName& base,
                const LocalName& name, std::uint32_t level);
    void Add(const UrlDone& c);
    void Add(const PageAdded& c);
    void Add(const PageLinks& c);
    // The same as Add(PageLinks), without copying the base and links into one.
    void AddLinks(std::uint32_t id, std::string_view base, bool nofollow, std::string_view links);
    void Add(const FileResized& c);
    void Add(const HostAdded& c);
    void Add(const UrlKeptOut& c);
    // Empties the list; its room is kept for the next file.
    void Clear() {
        m_bytes.clear();
        m_count = 0;
    }
    std::uint32_t Count() const { return m_count; }
    // The changes one after the other, each as ReadJournalEntries reads it back into a
    // RecordChange.
    const std::string& Bytes() const { return m_bytes; }

private:
    // A change's fields, each kind using some.
    struct Fields {
        RecordChange::What what = RecordChange::What::Met;
        UrlState state = UrlState::Queued;
        bool flag = false;
        std::uint32_t id = 0;
        std::uint32_t number = 0;
        long status = 0;
        std::uint64_t size = 0;
        std::string_view url;
        const LocalName* base = nullptr;
        const LocalName* name = nullptr;
        std::string_view etag;
        std::string_view modified;
        std::string_view type;
        std::string_view reason;
        std::string_view links;
    };
    void Put(const Fields& c);

    std::string m_bytes;
    std::uint32_t m_count = 0;
};

// One link of a page in PageLinks::links: its kind, the value found, the text written.
struct RecordedLink {
    int kind = 0;
    std::string found;
    std::string written;
};
void EncodeLink(std::string& out, int kind, std::string_view found, std::string_view written);
// EncodeLink in two steps, for a value that is changed in place: the kind and the value
// found, then the text written. EncodeLinkFound returns where the value's bytes start in
// `out`; EncodeLinkWritten returns true when `written` differs from them.
std::size_t EncodeLinkFound(std::string& out, int kind, std::string_view found);
bool EncodeLinkWritten(std::string& out, std::size_t foundAt, std::size_t foundSize,
                       std::string_view written);
// False when `bytes` is not a list EncodeLink made.
bool DecodeLinks(std::string_view bytes, std::vector<RecordedLink>& links);

// A URL of the record, as a continued run takes it back.
struct RecordedUrl {
    std::string url;
    LocalName base;
    LocalName name;
    std::uint32_t level = 0;
    UrlState state = UrlState::Queued;
};

// Everything a continued run needs.
struct RecordedCopy {
    std::vector<RecordedUrl> urls;  // by id: urls[id]
    std::vector<LinkNoted> notes;   // for targets not fetched yet
    std::vector<PageAdded> pages;   // those with notes, by fix-up id
    std::vector<std::string> hosts;
    CopyTallies tallies;
};

// A file of the copy an update starts from.
struct PreviousFile {
    LocalName name;
    std::string etag;
    std::string modified;
    std::string type;
    std::string base;
    bool nofollow = false;
    bool page = false;  // its links were recorded
    std::string links;
    UrlState state = UrlState::Fetched;
};

class CJournalFile;

// What a directory holds, for the main dialog.
struct CopyInfo {
    enum class Kind { None, Unfinished, Finished, Damaged, Newer };
    Kind kind = Kind::None;
    std::string startUrl;
    std::uint64_t files = 0;
    std::int64_t finishedTime = 0;  // seconds since the epoch
};
// Reads the record of `targetDir` (ending with "/") without changing anything. Any
// thread; opens its own connection.
CopyInfo ReadCopyInfo(const std::string& targetDir);

// The open record of one run. Created and opened by the worker at the start of a run;
// after Begin, changes are written by a thread of its own (never on the transfer path),
// in transactions every 250 ms or 200 files, and at End.
//
// Threads: every call comes from the worker thread; the writer thread is the object's
// own and is joined by End and the destructor.
class CCopyRecord {
public:
    static constexpr const char* kFolder = "%tandril";
    static constexpr const char* kFile = "copy.sqlite";
    // The tail of the record between two commits (see record_journal.h).
    static constexpr const char* kJournalFile = "copy.journal";
    // The format this program writes; a record with a higher one is not touched.
    static constexpr int kFormat = 1;

    CCopyRecord();
    ~CCopyRecord();
    CCopyRecord(const CCopyRecord&) = delete;
    CCopyRecord& operator=(const CCopyRecord&) = delete;

    enum class Opened {
        Fresh,          // no record (or a fresh start asked for): a first run
        Continue,       // an unfinished copy of the same start URL
        Update,         // a finished copy of the same start URL
        OtherStartUrl,  // a copy of another start URL: nothing was changed
        Damaged,        // unreadable: nothing was changed
        Newer,          // written by a newer program: nothing was changed
        CannotCreate,   // the folder or the database could not be made
    };
    // Opens the record of `targetDir` (ending with "/") for a run from `startUrl`.
    // With `fresh`, an existing record is emptied first (no file of the copy is touched).
    Opened Open(const std::string& targetDir, const std::string& startUrl, bool fresh);
    const std::string& Error() const { return m_error; }
    // The recorded settings (after Continue or Update).
    bool LoadSettings(CopySettings& settings);
    // The state to continue from (after Continue). A file recorded fetched that is not
    // on disk as it was saved is taken as queued again.
    bool Load(RecordedCopy& copy);
    // True when the copy is being updated (Update, or Continue of an update).
    bool IsUpdate() const { return m_bUpdate; }
    // The files of the copy an update starts from (after Update, or Continue of one).
    bool LoadPrevious(std::unordered_map<std::string, PreviousFile>& files);

    // Writes the settings, marks the copy unfinished and starts the writer. `tallies`:
    // the counts the run starts from.
    bool Begin(const CopySettings& settings, const CopyTallies& tallies = {});
    // Hands over the changes of a file that is done, with the counts after it, and
    // empties `changes`.
    void Hand(CChangeList& changes, const CopyTallies& tallies);
    // Notes in the journal alone that a saved page is about to be replaced by a text of
    // `size` bytes. The change itself is handed over afterwards; if the run is killed
    // in between, the next opening keeps whichever size the file has.
    void NoteReplacing(std::uint32_t id, std::uint64_t size);
    // Writes what is left; marks the copy finished when `finished`. Stops the writer.
    bool End(bool finished);

    // The file of the record of `targetDir`.
    static std::string PathFor(const std::string& targetDir);

private:
    // Sets the connection up and makes the tables; `created`: the file is new.
    bool CreateSchema(bool created);
    bool Setting(const char* key, std::string& value);
    // Writes `settings` in one transaction.
    bool PutSettings(std::initializer_list<std::pair<const char*, std::string>> settings);
    bool StartUpdate();
    // Applies the journal's entries that the record lacks, then empties it.
    bool ReplayJournal();
    // Drops from `files` the sizes noted before a page was replaced where the page does
    // not have them: the run was killed before the new text took its place.
    void DropUnplacedReplacements(std::vector<std::vector<RecordChange>>& files);
    // Makes the entry of `changes` in m_entry and writes it to the journal, if it is open.
    void Journal(std::uint64_t seq, const CChangeList& changes, const CopyTallies& tallies);
    void WriterLoop();
    // Writes the changes of files up to entry `seq` in one transaction.
    struct WriteStatements;
    bool Write(WriteStatements& statements, const std::vector<std::vector<RecordChange>>& files,
               const CopyTallies& tallies, std::uint64_t seq);
    void StopWriter();
    // Moves the entries the worker holds to those pending (m_mutex held).
    void PassHeldEntries();
    std::string JournalPath() const;

    CSqliteDb m_db;
    std::string m_targetDir;
    std::string m_error;
    bool m_bUpdate = false;

    std::thread m_writer;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    // The journal's entries not written yet (the writer reads them back); guarded by
    // m_mutex.
    std::string m_pending;
    std::size_t m_pendingFiles = 0;  // guarded by m_mutex
    bool m_bStop = false;            // guarded by m_mutex
    bool m_bWriteFailed = false;     // guarded by m_mutex
    std::uint64_t m_pendingSeq = 0;  // the last entry pending; guarded by m_mutex

    // The journal: the worker appends, the writer notes what it has committed.
    std::unique_ptr<CJournalFile> m_journal;
    std::string m_entry;  // the worker's buffer for one entry
    // Entries the worker made while the writer held the lock, and the last one's number.
    std::string m_held;
    std::uint64_t m_heldSeq = 0;
    std::size_t m_heldFiles = 0;
    std::uint64_t m_appendedSeq = 0;
    CopyTallies m_handedTallies;  // the counts of the last entry handed over
    std::atomic<std::uint64_t> m_committedSeq{0};
};

}  // namespace tandril
