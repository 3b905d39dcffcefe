#include "engine/copy_record.h"

#include <chrono>
#include <cstdlib>
#include <ctime>

#include "engine/record_bytes.h"
#include "engine/record_journal.h"
#include "platform/file.h"
#include "platform/fs.h"
#include "platform/thread.h"

namespace tandril {
namespace {

// One transaction: one commit, however many tables.
constexpr const char* kSchema = R"(
BEGIN IMMEDIATE;
CREATE TABLE IF NOT EXISTS settings(key TEXT PRIMARY KEY, value TEXT) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS urls(id INTEGER PRIMARY KEY, url TEXT NOT NULL,
  base_dir TEXT, base_file TEXT, dir TEXT, file TEXT, level INTEGER, state INTEGER,
  status INTEGER, etag TEXT, modified TEXT, type TEXT, size INTEGER, time INTEGER, reason TEXT,
  page_base TEXT, nofollow INTEGER, links BLOB, fix_page INTEGER, stylesheet INTEGER,
  notes BLOB);
CREATE TABLE IF NOT EXISTS hosts(url TEXT);
CREATE TABLE IF NOT EXISTS kept_out(url TEXT PRIMARY KEY, state INTEGER) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS previous(url TEXT PRIMARY KEY, dir TEXT, file TEXT, etag TEXT,
  modified TEXT, type TEXT, state INTEGER, base TEXT, nofollow INTEGER, links BLOB,
  page INTEGER);
COMMIT;
)";

constexpr auto kCommitEvery = std::chrono::milliseconds(250);
constexpr std::size_t kCommitFiles = 200;

std::string JoinLines(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        if (!text.empty())
            text += '\n';
        text += line;
    }
    return text;
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            end = text.size();
        lines.push_back(text.substr(pos, end - pos));
        pos = end + 1;
    }
    return lines;
}

std::uint32_t ToNumber(const std::string& text) {
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9' || value > UINT32_MAX)
            return 0;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    return value > UINT32_MAX ? 0 : static_cast<std::uint32_t>(value);
}

bool GetText(std::string_view& in, std::string& text) {
    std::uint64_t size = 0;
    if (!GetRecordNumber(in, size) || size > in.size())
        return false;
    text.assign(in.substr(0, size));
    in.remove_prefix(size);
    return true;
}

// All the settings of a record, by key; false when they cannot be read.
bool ReadSettings(CSqliteDb& db, std::unordered_map<std::string, std::string>& settings) {
    CSqliteStatement get(db, "SELECT key, value FROM settings");
    CSqliteStatement::Step step;
    while ((step = get.Next()) == CSqliteStatement::Step::Row)
        settings[get.Text(0)] = get.Text(1);
    return step == CSqliteStatement::Step::Done;
}

LocalName NameOf(std::string dir, std::string file) {
    return LocalName{std::move(file), std::move(dir)};
}

}  // namespace

void PutRecordNumber(std::string& out, std::uint64_t value) {
    do {
        unsigned char byte = value & 0x7f;
        value >>= 7;
        if (value != 0)
            byte |= 0x80;
        out += static_cast<char>(byte);
    } while (value != 0);
}

bool GetRecordNumber(std::string_view& in, std::uint64_t& value) {
    value = 0;
    for (int shift = 0; shift < 64; shift += 7) {
        if (in.empty())
            return false;
        const auto byte = static_cast<unsigned char>(in.front());
        in.remove_prefix(1);
        value |= static_cast<std::uint64_t>(byte & 0x7f) << shift;
        if ((byte & 0x80) == 0)
            return true;
    }
    return false;
}

std::size_t EncodeLinkFound(std::string& out, int kind, std::string_view found) {
    CRecordBytes put(out, 2 * CRecordBytes::kNumberBytes + found.size());
    put.Number(static_cast<std::uint64_t>(kind));
    put.Number(found.size());
    const std::size_t at = put.Offset();
    put.Bytes(found);
    return at;
}

bool EncodeLinkWritten(std::string& out, std::size_t foundAt, std::size_t foundSize,
                       std::string_view written) {
    // A link written as found (copy only, or a link left alone) stores no second text.
    const bool same = foundAt <= out.size() && foundSize <= out.size() - foundAt &&
                      std::string_view(out).substr(foundAt, foundSize) == written;
    CRecordBytes put(out, CRecordBytes::kNumberBytes + (same ? 0 : written.size()));
    if (same) {
        put.Number(0);
    } else {
        put.Number(written.size() + 1);
        put.Bytes(written);
    }
    return !same;
}

void EncodeLink(std::string& out, int kind, std::string_view found, std::string_view written) {
    const std::size_t at = EncodeLinkFound(out, kind, found);
    EncodeLinkWritten(out, at, found.size(), written);
}

bool DecodeLinks(std::string_view bytes, std::vector<RecordedLink>& links) {
    links.clear();
    while (!bytes.empty()) {
        RecordedLink link;
        std::uint64_t kind = 0, written = 0;
        if (!GetRecordNumber(bytes, kind) || kind > 16 || !GetText(bytes, link.found) ||
            !GetRecordNumber(bytes, written) || written > bytes.size() + 1)
            return false;
        link.kind = static_cast<int>(kind);
        if (written == 0) {
            link.written = link.found;
        } else {
            link.written.assign(bytes.substr(0, written - 1));
            bytes.remove_prefix(written - 1);
        }
        links.push_back(std::move(link));
    }
    return true;
}

std::string CCopyRecord::PathFor(const std::string& targetDir) {
    return targetDir + kFolder + "/" + kFile;
}

CopyInfo ReadCopyInfo(const std::string& targetDir) {
    CopyInfo info;
    const std::string path = CCopyRecord::PathFor(targetDir);
    if (!PathExists(path))
        return info;
    info.kind = CopyInfo::Kind::Damaged;
    CSqliteDb db;
    if (!db.Open(path, CSqliteDb::Mode::ReadOnly))
        return info;
    std::unordered_map<std::string, std::string> settings;
    if (!ReadSettings(db, settings) || settings.count("format") == 0)
        return info;
    if (ToNumber(settings["format"]) > static_cast<std::uint32_t>(CCopyRecord::kFormat)) {
        info.kind = CopyInfo::Kind::Newer;
        return info;
    }
    info.startUrl = settings["start_url"];
    // While an update runs, the copy's files are those it started from.
    const bool updating = settings["state"] != "finished" && settings["update"] == "1";
    CSqliteStatement count(db, updating ? "SELECT count(*) FROM previous WHERE state = 1"
                                        : "SELECT count(*) FROM urls WHERE state = 1");
    if (count.Next() != CSqliteStatement::Step::Row)
        return info;
    info.files = static_cast<std::uint64_t>(count.Int(0));
    if (settings["state"] == "finished") {
        info.kind = CopyInfo::Kind::Finished;
        info.finishedTime = ToNumber(settings["finished"]);
    } else {
        info.kind = CopyInfo::Kind::Unfinished;
    }
    return info;
}

// The statements a write runs, prepared once per writer (a transaction every 200 files
// would otherwise prepare them all again).
struct CCopyRecord::WriteStatements {
    explicit WriteStatements(CSqliteDb& db)
        : insert(db,
                 "INSERT INTO urls(id, url, base_dir, base_file, dir, file, "
                 "level, state, status, etag, modified, type, size, time, reason, "
                 "page_base, nofollow, links, fix_page, stylesheet, notes) VALUES(?, "
                 "?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"),
          // A URL met in an earlier batch and settled in this one: its row is rewritten
          // once, with the links and notes of its page when they came in the same batch
          // (a parameter left unbound keeps the column).
          done(db,
               "UPDATE urls SET state = ?1, dir = ?2, file = ?3, status = ?4, etag = ?5, "
               "modified = ?6, type = ?7, size = ?8, time = ?9, reason = ?10, "
               "page_base = coalesce(?11, page_base), nofollow = coalesce(?12, nofollow), "
               "links = coalesce(?13, links), fix_page = coalesce(?14, fix_page), "
               "stylesheet = coalesce(?15, stylesheet), notes = coalesce(?16, notes) "
               "WHERE id = ?17"),
          links(db, "UPDATE urls SET page_base = ?, nofollow = ?, links = ? WHERE id = ?"),
          page(db, "UPDATE urls SET fix_page = ?, stylesheet = ?, notes = ? WHERE id = ?"),
          resized(db, "UPDATE urls SET size = ? WHERE id = ?"),
          host(db, "INSERT INTO hosts(url) VALUES(?)"),
          keptOut(db, "INSERT OR REPLACE INTO kept_out(url, state) VALUES(?, ?)"),
          setting(db, "INSERT OR REPLACE INTO settings(key, value) VALUES(?, ?)") {}
    CSqliteStatement insert;
    CSqliteStatement done;
    CSqliteStatement links;
    CSqliteStatement page;
    CSqliteStatement resized;
    CSqliteStatement host;
    CSqliteStatement keptOut;
    CSqliteStatement setting;
};

CCopyRecord::CCopyRecord() : m_journal(std::make_unique<CJournalFile>()) {}

CCopyRecord::~CCopyRecord() {
    StopWriter();
}

std::string CCopyRecord::JournalPath() const {
    return m_targetDir + kFolder + "/" + kJournalFile;
}

bool CCopyRecord::ReplayJournal() {
    std::string bytes;
    if (!PathExists(JournalPath()))
        return true;
    // A journal longer than this was not written by a run of this program.
    if (!ReadFileStart(JournalPath(), std::size_t{1} << 30, bytes))
        return false;
    std::string committed;
    if (!Setting("journal_seq", committed))
        return false;
    const std::uint64_t done = std::strtoull(committed.c_str(), nullptr, 10);
    std::vector<std::vector<RecordChange>> files;
    CopyTallies tallies;
    std::uint64_t last = done;
    for (JournalEntry& entry : ReadJournalEntries(bytes)) {
        if (entry.seq <= done)
            continue;
        files.push_back(std::move(entry.changes));
        tallies = entry.tallies;
        last = entry.seq;
    }
    DropUnplacedReplacements(files);
    if (!files.empty()) {
        WriteStatements statements(m_db);
        if (!Write(statements, files, tallies, last))
            return false;
    }
    DeleteFile(JournalPath());
    return true;
}

void CCopyRecord::DropUnplacedReplacements(std::vector<std::vector<RecordChange>>& files) {
    // The names the journal gives, then those of the record, for the pages concerned.
    std::unordered_map<std::uint32_t, LocalName> names;
    for (const auto& changes : files) {
        for (const RecordChange& c : changes) {
            if (c.what == RecordChange::What::Met || c.what == RecordChange::What::Done)
                names[c.id] = c.name;
        }
    }
    CSqliteStatement nameOf(m_db, "SELECT dir, file FROM urls WHERE id = ?");
    for (auto& changes : files) {
        for (auto it = changes.begin(); it != changes.end();) {
            if (it->what != RecordChange::What::Resized || !it->flag) {
                ++it;
                continue;
            }
            LocalName name;
            if (const auto known = names.find(it->id); known != names.end()) {
                name = known->second;
            } else {
                nameOf.Bind(1, it->id);
                if (nameOf.Next() == CSqliteStatement::Step::Row)
                    name = NameOf(nameOf.Text(0), nameOf.Text(1));
                nameOf.Reset();
            }
            const std::string path = m_targetDir + LocalPathOf(name);
            if (!name.fileName.empty() && IsRegularFile(path) && FileSizeOf(path) == it->size)
                ++it;
            else
                it = changes.erase(it);
        }
    }
}

bool CCopyRecord::CreateSchema(bool created) {
    // WAL with NORMAL: a commit writes the log and syncs nothing, so the record costs a
    // run no wait for the disk; a power cut loses at most the last commits, never the
    // record's consistency. The log is checkpointed when a record is opened (the disk is
    // quiet then), during a run only past 64 MiB.
    // A record just made holds nothing to lose: it is set up without a sync.
    if (created && !m_db.Exec("PRAGMA synchronous=OFF; PRAGMA journal_mode=WAL;")) {
        m_error = m_db.Error();
        return false;
    }
    if (!m_db.Exec(created ? "PRAGMA journal_mode=WAL;"
                           : "PRAGMA journal_mode=WAL; PRAGMA wal_checkpoint(TRUNCATE);") ||
        !m_db.Exec(kSchema) ||
        !m_db.Exec("PRAGMA synchronous=NORMAL; PRAGMA wal_autocheckpoint=16384;")) {
        m_error = m_db.Error();
        return false;
    }
    m_db.KeepWalOnClose();
    return true;
}

bool CCopyRecord::Setting(const char* key, std::string& value) {
    CSqliteStatement get(m_db, "SELECT value FROM settings WHERE key = ?");
    get.Bind(1, std::string_view(key));
    switch (get.Next()) {
        case CSqliteStatement::Step::Row:
            value = get.Text(0);
            return true;
        case CSqliteStatement::Step::Done:
            value.clear();
            return true;
        default:
            m_error = m_db.Error();
            return false;
    }
}

bool CCopyRecord::PutSettings(std::initializer_list<std::pair<const char*, std::string>> settings) {
    bool ok = m_db.Exec("BEGIN IMMEDIATE;");
    {
        CSqliteStatement put(m_db, "INSERT OR REPLACE INTO settings(key, value) VALUES(?, ?)");
        for (const auto& [key, value] : settings) {
            if (!ok)
                break;
            ok = put.Bind(1, std::string_view(key)).BindView(2, value).Run();
        }
    }
    if (!ok || !m_db.Exec("COMMIT;")) {
        m_error = m_db.Error();
        m_db.Exec("ROLLBACK;");
        return false;
    }
    return true;
}

CCopyRecord::Opened CCopyRecord::Open(const std::string& targetDir, const std::string& startUrl,
                                      bool fresh) {
    StopWriter();
    m_db.Close();
    m_targetDir = targetDir;
    m_bUpdate = false;
    const std::string folder = targetDir + kFolder;
    const std::string path = PathFor(targetDir);
    if (fresh) {
        // Only the record's own files: the copy stays as it is.
        for (const char* suffix : {"", "-wal", "-shm", "-journal"})
            DeleteFile(path + suffix);
        DeleteFile(JournalPath());
    }
    if (!IsRealDirectory(folder) && !CreateDirectoryLevel(folder)) {
        m_error = "cannot create " + folder;
        return Opened::CannotCreate;
    }
    const bool existed = PathExists(path);
    if (!m_db.Open(path, CSqliteDb::Mode::ReadWriteCreate)) {
        m_error = m_db.Error();
        return existed ? Opened::Damaged : Opened::CannotCreate;
    }
    if (existed) {
        std::string format;
        {
            // Finished before anything else runs: a checkpoint waits for no reader.
            CSqliteStatement probe(m_db, "SELECT value FROM settings WHERE key = 'format'");
            const CSqliteStatement::Step step = probe.Next();
            if (!probe.Valid() || step == CSqliteStatement::Step::Error) {
                m_error = m_db.Error();
                m_db.Close();
                return Opened::Damaged;
            }
            if (step == CSqliteStatement::Step::Row)
                format = probe.Text(0);
        }
        if (ToNumber(format) > static_cast<std::uint32_t>(kFormat)) {
            m_db.Close();
            return Opened::Newer;
        }
        if (ToNumber(format) == 0 || !m_db.Exec("PRAGMA quick_check;") || !ReplayJournal()) {
            m_error = m_db.Error();
            m_db.Close();
            return Opened::Damaged;
        }
        // An empty record (made and never written) is a fresh start.
        std::string recordedUrl, state, update;
        if (!Setting("start_url", recordedUrl) || !Setting("state", state) ||
            !Setting("update", update)) {
            m_db.Close();
            return Opened::Damaged;
        }
        if (!recordedUrl.empty()) {
            if (recordedUrl != startUrl) {
                // A record that saved no file is no copy: it is made afresh.
                bool savedNothing = false;
                {
                    CSqliteStatement saved(m_db, "SELECT count(*) FROM urls WHERE state = 1");
                    savedNothing = saved.Next() == CSqliteStatement::Step::Row && saved.Int(0) == 0;
                }
                if (savedNothing) {
                    m_db.Close();
                    return Open(targetDir, startUrl, true);
                }
                m_error = recordedUrl;
                m_db.Close();
                return Opened::OtherStartUrl;
            }
            if (state == "finished") {
                if (!CreateSchema(false) || !StartUpdate()) {
                    m_db.Close();
                    return Opened::Damaged;
                }
                m_bUpdate = true;
                return Opened::Update;
            }
            m_bUpdate = update == "1";
            return CreateSchema(false) ? Opened::Continue : Opened::Damaged;
        }
    }
    if (!CreateSchema(!existed) || !PutSettings({{"format", std::to_string(kFormat)}})) {
        m_db.Close();
        return Opened::CannotCreate;
    }
    return Opened::Fresh;
}

bool CCopyRecord::StartUpdate() {
    // The files of the finished copy become the previous copy; the run starts afresh
    // from the start URL, asking for each of them with its validators.
    const bool ok = m_db.Exec(
        "BEGIN IMMEDIATE;"
        "DELETE FROM previous;"
        "INSERT INTO previous SELECT url, dir, file, etag, modified, type, state,"
        "  page_base, nofollow, links, links IS NOT NULL"
        "  FROM urls WHERE state IN (1, 5);"
        "DELETE FROM urls;"
        "DELETE FROM hosts; DELETE FROM kept_out;"
        "DELETE FROM settings WHERE key IN ('files', 'megabytes', 'kilo_rest',"
        "  'byte_rest', 'unchanged', 'changed', 'added', 'gone', 'failed');"
        "INSERT OR REPLACE INTO settings VALUES('update', '1');"
        "INSERT OR REPLACE INTO settings VALUES('state', 'unfinished');"
        "COMMIT;");
    if (!ok) {
        m_error = m_db.Error();
        m_db.Exec("ROLLBACK;");
    }
    return ok;
}

bool CCopyRecord::LoadSettings(CopySettings& s) {
    std::unordered_map<std::string, std::string> values;
    if (!ReadSettings(m_db, values)) {
        m_error = m_db.Error();
        return false;
    }
    s.startUrl = values["start_url"];
    s.modifyLinks = values["modify_links"] != "0";
    s.relativeLinks = values["relative_links"] == "1";
    s.offsiteEmbedded = values["offsite_embedded"] != "0";
    s.obeyRobots = values["obey_robots"] != "0";
    s.noParent = values["no_parent"] == "1";
    s.maxLevels = ToNumber(values["max_levels"]);
    s.maxFiles = ToNumber(values["max_files"]);
    s.maxMegaBytes = ToNumber(values["max_megabytes"]);
    s.skipPatterns = SplitLines(values["skip"]);
    s.followPatterns = SplitLines(values["follow"]);
    return true;
}

bool CCopyRecord::Load(RecordedCopy& copy) {
    copy = RecordedCopy{};
    CSqliteStatement urls(m_db,
                          "SELECT id, url, base_dir, base_file, dir, file, level, state, size "
                          "FROM urls ORDER BY id");
    CSqliteStatement::Step step;
    while ((step = urls.Next()) == CSqliteStatement::Step::Row) {
        // Ids are given in order from 0: a gap is a record that was tampered with.
        if (urls.Int(0) != static_cast<std::int64_t>(copy.urls.size())) {
            m_error = "URL ids out of order";
            return false;
        }
        RecordedUrl url;
        url.url = urls.Text(1);
        url.base = NameOf(urls.Text(2), urls.Text(3));
        url.name = NameOf(urls.Text(4), urls.Text(5));
        url.level = static_cast<std::uint32_t>(urls.Int(6));
        const std::int64_t state = urls.Int(7);
        url.state = state >= 0 && state <= 5 ? static_cast<UrlState>(state) : UrlState::Queued;
        const std::string file = m_targetDir + LocalPathOf(url.name);
        if (url.state == UrlState::Fetched &&
            !(IsRegularFile(file) && FileSizeOf(file) == static_cast<std::uint64_t>(urls.Int(8)))) {
            url.state = UrlState::Queued;
        }
        copy.urls.push_back(std::move(url));
    }
    if (step != CSqliteStatement::Step::Done) {
        m_error = m_db.Error();
        return false;
    }
    // The pages whose links wait for a target's name, and those targets.
    CSqliteStatement pages(m_db,
                           "SELECT id, fix_page, stylesheet, notes, dir, file FROM urls "
                           "WHERE fix_page IS NOT NULL ORDER BY fix_page");
    while ((step = pages.Next()) == CSqliteStatement::Step::Row) {
        const std::int64_t page = pages.Int(1);
        if (page < 0 || page >= (1 << 30)) {
            m_error = "a page id out of range";
            return false;
        }
        copy.pages.push_back(PageAdded{static_cast<std::uint32_t>(page),
                                       static_cast<std::uint32_t>(pages.Int(0)),
                                       NameOf(pages.Text(4), pages.Text(5)),
                                       pages.Int(2) != 0,
                                       {}});
        const std::string blob = pages.Text(3);
        std::string_view notes = blob;
        std::uint64_t target = 0;
        while (!notes.empty()) {
            if (!GetRecordNumber(notes, target) || target >= copy.urls.size()) {
                m_error = "a note without its URL";
                return false;
            }
            if (copy.urls[target].state == UrlState::Queued)
                copy.notes.push_back(LinkNoted{static_cast<std::uint32_t>(target),
                                               static_cast<std::uint32_t>(page)});
        }
    }
    if (step != CSqliteStatement::Step::Done) {
        m_error = m_db.Error();
        return false;
    }
    CSqliteStatement hosts(m_db, "SELECT url FROM hosts ORDER BY rowid");
    while (hosts.Next() == CSqliteStatement::Step::Row)
        copy.hosts.push_back(hosts.Text(0));
    std::unordered_map<std::string, std::string> values;
    if (!ReadSettings(m_db, values)) {
        m_error = m_db.Error();
        return false;
    }
    CopyTallies& t = copy.tallies;
    t.files = ToNumber(values["files"]);
    t.megaBytes = ToNumber(values["megabytes"]);
    t.kiloRest = ToNumber(values["kilo_rest"]);
    t.byteRest = ToNumber(values["byte_rest"]);
    t.unchanged = ToNumber(values["unchanged"]);
    t.changed = ToNumber(values["changed"]);
    t.added = ToNumber(values["added"]);
    t.gone = ToNumber(values["gone"]);
    t.failed = ToNumber(values["failed"]);
    return true;
}

bool CCopyRecord::LoadPrevious(std::unordered_map<std::string, PreviousFile>& files) {
    files.clear();
    CSqliteStatement get(m_db,
                         "SELECT url, dir, file, etag, modified, type, state, base, nofollow, "
                         "links, page FROM previous");
    CSqliteStatement::Step step;
    while ((step = get.Next()) == CSqliteStatement::Step::Row) {
        PreviousFile file;
        file.name = NameOf(get.Text(1), get.Text(2));
        file.etag = get.Text(3);
        file.modified = get.Text(4);
        file.type = get.Text(5);
        file.state = get.Int(6) == 5 ? UrlState::Gone : UrlState::Fetched;
        file.base = get.Text(7);
        file.nofollow = get.Int(8) != 0;
        file.links = get.Text(9);
        file.page = get.Int(10) != 0;
        files.emplace(get.Text(0), std::move(file));
    }
    if (step != CSqliteStatement::Step::Done) {
        m_error = m_db.Error();
        return false;
    }
    return true;
}

bool CCopyRecord::Begin(const CopySettings& s, const CopyTallies& tallies) {
    m_handedTallies = tallies;
    const auto flag = [](bool value) { return std::string(value ? "1" : "0"); };
    if (!PutSettings({{"start_url", s.startUrl},
                      {"program", TANDRIL_VERSION},
                      {"state", "unfinished"},
                      {"update", flag(m_bUpdate)},
                      {"modify_links", flag(s.modifyLinks)},
                      {"relative_links", flag(s.relativeLinks)},
                      {"offsite_embedded", flag(s.offsiteEmbedded)},
                      {"obey_robots", flag(s.obeyRobots)},
                      {"no_parent", flag(s.noParent)},
                      {"max_levels", std::to_string(s.maxLevels)},
                      {"max_files", std::to_string(s.maxFiles)},
                      {"max_megabytes", std::to_string(s.maxMegaBytes)},
                      {"skip", JoinLines(s.skipPatterns)},
                      {"follow", JoinLines(s.followPatterns)}}))
        return false;
    std::string committed;
    Setting("journal_seq", committed);
    m_appendedSeq = std::strtoull(committed.c_str(), nullptr, 10);
    m_committedSeq.store(m_appendedSeq);
    // Without a journal the record still works: a kill loses the files since its last
    // commit.
    m_journal->OpenEmpty(JournalPath());
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bStop = false;
        m_bWriteFailed = false;
        m_pending.clear();
        m_pendingFiles = 0;
        m_pendingSeq = m_appendedSeq;
        m_held.clear();
        m_heldFiles = 0;
    }
    m_writer = std::thread(&CCopyRecord::WriterLoop, this);
    return true;
}

void CCopyRecord::Journal(std::uint64_t seq, const CChangeList& changes,
                          const CopyTallies& tallies) {
    m_entry.clear();
    AppendJournalEntry(m_entry, seq, changes, tallies);
    if (!m_journal->IsOpen())
        return;
    // Everything before this entry is in the record: the journal starts again.
    if (m_committedSeq.load() + 1 == seq)
        m_journal->Truncate();
    m_journal->Append(m_entry);
}

void CCopyRecord::NoteReplacing(std::uint32_t id, std::uint64_t size) {
    CChangeList note;
    note.Add(FileResized{id, size, true});
    Journal(++m_appendedSeq, note, m_handedTallies);
}

void CCopyRecord::Hand(CChangeList& changes, const CopyTallies& tallies) {
    const std::uint64_t seq = ++m_appendedSeq;
    m_handedTallies = tallies;
    Journal(seq, changes, tallies);
    changes.Clear();
    // The writer reads the entry back, off the worker's path. The worker never waits
    // for its lock: the writer may hold it while it is kept off the processor for long
    // (it runs only on idle time), and the entry waits for the next file then.
    m_held.append(m_entry);
    m_heldSeq = seq;
    m_heldFiles += 1;
    std::unique_lock<std::mutex> lock(m_mutex, std::try_to_lock);
    if (!lock.owns_lock())
        return;
    PassHeldEntries();
    const bool wake = m_pendingFiles >= kCommitFiles;
    lock.unlock();
    if (wake)
        m_wake.notify_one();
}

void CCopyRecord::PassHeldEntries() {
    if (m_heldFiles == 0)
        return;
    if (m_pending.empty())
        m_pending.swap(m_held);
    else
        m_pending.append(m_held);
    m_held.clear();
    m_pendingSeq = m_heldSeq;
    m_pendingFiles += m_heldFiles;
    m_heldFiles = 0;
}

void CCopyRecord::WriterLoop() {
    // The writer takes only time that no other thread of the machine wants. A
    // transaction takes a millisecond or two, and a thread at normal priority keeps its
    // processor until its time slice ends: a server on this machine (or the worker)
    // woken meanwhile would wait, and the transfers with it. On a machine kept busy by
    // other programs the writer falls behind (the journal keeps what it has not
    // written yet) and the end of a run waits for it. Best effort: without it the
    // writer runs as any thread.
    RunOnlyWhenIdle();
    WriteStatements statements(m_db);
    std::string entries;  // its room goes back to the worker at the next swap
    for (;;) {
        std::uint64_t seq = 0;
        bool stop = false;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_wake.wait_for(lock, kCommitEvery,
                            [this] { return m_bStop || m_pendingFiles >= kCommitFiles; });
            stop = m_bStop;
            if (m_pendingFiles == 0) {
                if (stop)
                    return;
                continue;
            }
            entries.swap(m_pending);
            seq = m_pendingSeq;
            m_pendingFiles = 0;
        }
        std::vector<std::vector<RecordChange>> changes;
        CopyTallies tallies;
        std::uint64_t last = 0;
        for (JournalEntry& entry : ReadJournalEntries(entries)) {
            changes.push_back(std::move(entry.changes));
            tallies = entry.tallies;
            last = entry.seq;
        }
        entries.clear();
        // Entries the worker made are read back whole, or the record is not written on.
        if (last == seq && Write(statements, changes, tallies, seq)) {
            m_committedSeq.store(seq);
        } else {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_bWriteFailed = true;
        }
        if (stop) {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_pendingFiles == 0)
                return;
        }
    }
}

bool CCopyRecord::Write(WriteStatements& statements,
                        const std::vector<std::vector<RecordChange>>& files, const CopyTallies& t,
                        std::uint64_t seq) {
    // The changes of one URL within a batch become one row: most URLs are met, fetched
    // and scanned within 250 ms. A page's notes (the targets whose names its links wait
    // for) go in its row; targets fetched or given up in the batch need none.
    struct Row {
        const RecordChange* met = nullptr;
        const RecordChange* done = nullptr;
        const RecordChange* links = nullptr;
        const RecordChange* resized = nullptr;
        const RecordChange* page = nullptr;
        std::string notes;
    };
    std::vector<Row> rows;
    std::unordered_map<std::uint32_t, std::size_t> rowOf;
    std::unordered_map<std::uint32_t, bool> settled;  // targets done in the batch
    const auto rowFor = [&](std::uint32_t id) -> Row& {
        auto [it, added] = rowOf.emplace(id, rows.size());
        if (added)
            rows.emplace_back();
        return rows[it->second];
    };
    for (const auto& changes : files) {
        for (const RecordChange& c : changes) {
            switch (c.what) {
                case RecordChange::What::Met:
                    rowFor(c.id).met = &c;
                    break;
                case RecordChange::What::Done:
                    rowFor(c.id).done = &c;
                    settled[c.id] = true;
                    break;
                case RecordChange::What::Links:
                    rowFor(c.id).links = &c;
                    break;
                case RecordChange::What::Resized:
                    rowFor(c.id).resized = &c;
                    break;
                case RecordChange::What::Page:
                    rowFor(c.number).page = &c;
                    break;
                default:
                    break;
            }
        }
    }
    for (Row& row : rows) {
        if (row.page == nullptr)
            continue;
        std::string_view notes = row.page->links;
        for (std::uint64_t target = 0; GetRecordNumber(notes, target);) {
            if (settled.count(static_cast<std::uint32_t>(target)) == 0)
                PutRecordNumber(row.notes, target);
        }
    }

    if (!m_db.Exec("BEGIN IMMEDIATE;"))
        return false;
    auto& [insert, done, links, page, resized, host, keptOut, setting] = statements;
    const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
    // The statements name a settled URL's answer, a page's links and a page's notes in
    // the same order, each from its own first parameter.
    const auto bindAnswer = [now](CSqliteStatement& s, int at, const RecordChange& d,
                                  std::uint64_t size) {
        s.Bind(at, d.status)
            .BindView(at + 1, d.etag)
            .BindView(at + 2, d.modified)
            .BindView(at + 3, d.type)
            .Bind(at + 4, static_cast<std::int64_t>(size))
            .Bind(at + 5, now)
            .BindView(at + 6, d.reason);
    };
    const auto bindLinks = [](CSqliteStatement& s, int at, const RecordChange& l) {
        s.BindView(at, l.url).Bind(at + 1, l.flag ? 1 : 0).BindBlob(at + 2, l.links);
    };
    const auto bindPage = [](CSqliteStatement& s, int at, const Row& row) {
        s.Bind(at, row.page->id).Bind(at + 1, row.page->flag ? 1 : 0).BindBlob(at + 2, row.notes);
    };
    bool ok = true;
    for (const Row& row : rows) {
        if (!ok)
            break;
        const RecordChange* d = row.done;
        const std::uint64_t size = row.resized != nullptr ? row.resized->size
                                   : d != nullptr         ? d->size
                                                          : 0;
        if (row.met != nullptr) {
            const RecordChange& m = *row.met;
            const LocalName& name = d != nullptr ? d->name : m.name;
            insert.Bind(1, m.id)
                .BindView(2, m.url)
                .BindView(3, m.base.localDir)
                .BindView(4, m.base.fileName)
                .BindView(5, name.localDir)
                .BindView(6, name.fileName)
                .Bind(7, m.number)
                .Bind(8, static_cast<int>(d != nullptr ? d->state : UrlState::Queued));
            if (d != nullptr)
                bindAnswer(insert, 9, *d, size);
            if (row.links != nullptr)
                bindLinks(insert, 16, *row.links);
            if (row.page != nullptr)
                bindPage(insert, 19, row);
            ok = insert.Run();
            continue;
        }
        if (d != nullptr) {
            done.Bind(1, static_cast<int>(d->state))
                .BindView(2, d->name.localDir)
                .BindView(3, d->name.fileName)
                .Bind(17, d->id);
            bindAnswer(done, 4, *d, size);
            if (row.links != nullptr)
                bindLinks(done, 11, *row.links);
            if (row.page != nullptr)
                bindPage(done, 14, row);
            ok = done.Run();
            continue;
        }
        if (row.resized != nullptr)
            ok = resized.Bind(1, static_cast<std::int64_t>(size)).Bind(2, row.resized->id).Run();
        if (ok && row.links != nullptr) {
            bindLinks(links, 1, *row.links);
            ok = links.Bind(4, row.links->id).Run();
        }
        if (ok && row.page != nullptr) {
            bindPage(page, 1, row);
            ok = page.Bind(4, row.page->number).Run();
        }
    }
    for (const auto& changes : files) {
        for (const RecordChange& c : changes) {
            if (!ok)
                break;
            if (c.what == RecordChange::What::Host)
                ok = host.BindView(1, c.url).Run();
            else if (c.what == RecordChange::What::KeptOut)
                ok = keptOut.BindView(1, c.url).Bind(2, static_cast<int>(c.state)).Run();
        }
    }
    const std::pair<const char*, std::uint32_t> counts[] = {
        {"files", t.files},        {"megabytes", t.megaBytes}, {"kilo_rest", t.kiloRest},
        {"byte_rest", t.byteRest}, {"unchanged", t.unchanged}, {"changed", t.changed},
        {"added", t.added},        {"gone", t.gone},           {"failed", t.failed}};
    for (const auto& [key, value] : counts) {
        if (!ok)
            break;
        ok = setting.Bind(1, std::string_view(key)).Bind(2, std::to_string(value)).Run();
    }
    if (ok)
        ok = setting.Bind(1, std::string_view("journal_seq")).Bind(2, std::to_string(seq)).Run();
    if (!ok || !m_db.Exec("COMMIT;")) {
        m_error = m_db.Error();
        m_db.Exec("ROLLBACK;");
        return false;
    }
    return true;
}

void CCopyRecord::StopWriter() {
    if (!m_writer.joinable())
        return;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        PassHeldEntries();
        m_bStop = true;
    }
    m_wake.notify_one();
    m_writer.join();
}

bool CCopyRecord::End(bool finished) {
    StopWriter();
    if (m_journal->IsOpen()) {
        m_journal->Close();
        // All of it is in the record now, unless a write failed.
        if (m_committedSeq.load() == m_appendedSeq)
            DeleteFile(JournalPath());
    }
    if (!m_db.IsOpen())
        return false;
    bool ok;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ok = !m_bWriteFailed;
    }
    if (ok && finished) {
        ok = PutSettings(
            {{"finished", std::to_string(static_cast<std::int64_t>(std::time(nullptr)))},
             {"state", "finished"}});
    }
    m_db.Close();
    return ok;
}

}  // namespace tandril
