#include "engine/record_journal.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "engine/record_bytes.h"

namespace tandril {
namespace {

std::uint32_t GetU32(std::string_view in) {
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i)
        value |= static_cast<std::uint32_t>(static_cast<unsigned char>(in[i])) << (8 * i);
    return value;
}

// FNV-1a taken eight bytes at a time (a byte at a time it costs a run of small files
// more than the write of its entries), folded to 32 bits.
std::uint32_t EntryHash(std::string_view bytes) {
    std::uint64_t hash = 14695981039346656037ull;
    std::size_t i = 0;
    for (; i + 8 <= bytes.size(); i += 8) {
        std::uint64_t word;
        std::memcpy(&word, bytes.data() + i, 8);
        hash = (hash ^ word) * 1099511628211ull;
        hash ^= hash >> 29;
    }
    for (; i < bytes.size(); ++i)
        hash = (hash ^ static_cast<unsigned char>(bytes[i])) * 1099511628211ull;
    return static_cast<std::uint32_t>(hash ^ (hash >> 32));
}

// Reads what Put* wrote; false when the bytes end first.
class Reader {
public:
    explicit Reader(std::string_view in) : m_in(in) {}
    bool Number(std::uint64_t& value) { return GetRecordNumber(m_in, value); }
    template <typename T>
    bool Small(T& value) {
        std::uint64_t n = 0;
        if (!Number(n) || n > UINT32_MAX)
            return false;
        value = static_cast<T>(n);
        return true;
    }
    bool Text(std::string& text) {
        std::uint64_t size = 0;
        if (!Number(size) || size > m_in.size())
            return false;
        text.assign(m_in.substr(0, size));
        m_in.remove_prefix(size);
        return true;
    }
    bool Empty() const { return m_in.empty(); }

private:
    std::string_view m_in;
};

bool GetChange(Reader& in, RecordChange& c) {
    std::uint64_t what = 0, state = 0, flag = 0, status = 0;
    if (!in.Number(what) || what > static_cast<std::uint64_t>(RecordChange::What::KeptOut) ||
        !in.Number(state) || state > 5 || !in.Number(flag) || !in.Small(c.id) ||
        !in.Small(c.number) || !in.Number(status) || !in.Number(c.size))
        return false;
    c.what = static_cast<RecordChange::What>(what);
    c.state = static_cast<UrlState>(state);
    c.flag = flag != 0;
    c.status = static_cast<long>(status);
    return in.Text(c.url) && in.Text(c.base.localDir) && in.Text(c.base.fileName) &&
           in.Text(c.name.localDir) && in.Text(c.name.fileName) && in.Text(c.etag) &&
           in.Text(c.modified) && in.Text(c.type) && in.Text(c.reason) && in.Text(c.links);
}

}  // namespace

// One change, in the order GetChange reads it: the numbers, then the texts.
void CChangeList::Put(const Fields& c) {
    const std::string_view none;
    const std::string_view texts[] = {c.url,
                                      c.base != nullptr ? std::string_view(c.base->localDir) : none,
                                      c.base != nullptr ? std::string_view(c.base->fileName) : none,
                                      c.name != nullptr ? std::string_view(c.name->localDir) : none,
                                      c.name != nullptr ? std::string_view(c.name->fileName) : none,
                                      c.etag,
                                      c.modified,
                                      c.type,
                                      c.reason,
                                      c.links};
    std::size_t most = 1 + 6 * CRecordBytes::kNumberBytes;
    for (std::string_view text : texts)
        most += CRecordBytes::kNumberBytes + text.size();
    CRecordBytes put(m_bytes, most);
    put.Byte(static_cast<char>(c.what));
    put.Number(static_cast<std::uint64_t>(c.state));
    put.Number(c.flag ? 1 : 0);
    put.Number(c.id);
    put.Number(c.number);
    put.Number(static_cast<std::uint64_t>(c.status < 0 ? 0 : c.status));
    put.Number(c.size);
    for (std::string_view text : texts)
        put.Text(text);
    ++m_count;
}

void CChangeList::Add(const UrlMet& c) {
    AddMet(c.id, c.url, c.base, c.name, c.level);
}

void CChangeList::AddMet(std::uint32_t id, std::string_view url, const LocalName& base,
                         const LocalName& name, std::uint32_t level) {
    Fields f;
    f.what = RecordChange::What::Met;
    f.id = id;
    f.number = level;
    f.url = url;
    f.base = &base;
    f.name = &name;
    Put(f);
}

void CChangeList::Add(const UrlDone& c) {
    Fields f;
    f.what = RecordChange::What::Done;
    f.state = c.state;
    f.id = c.id;
    f.status = c.status;
    f.size = c.size;
    f.name = &c.name;
    f.etag = c.etag;
    f.modified = c.modified;
    f.type = c.type;
    f.reason = c.reason;
    Put(f);
}

void CChangeList::Add(const PageAdded& c) {
    Fields f;
    f.what = RecordChange::What::Page;
    f.flag = c.stylesheet;
    f.id = c.page;
    f.number = c.id;
    f.name = &c.name;
    f.links = c.notes;
    Put(f);
}

void CChangeList::Add(const PageLinks& c) {
    AddLinks(c.id, c.base, c.nofollow, c.links);
}

void CChangeList::AddLinks(std::uint32_t id, std::string_view base, bool nofollow,
                           std::string_view links) {
    Fields f;
    f.what = RecordChange::What::Links;
    f.flag = nofollow;
    f.id = id;
    f.url = base;
    f.links = links;
    Put(f);
}

void CChangeList::Add(const FileResized& c) {
    Fields f;
    f.what = RecordChange::What::Resized;
    f.flag = c.beforeReplacing;
    f.id = c.id;
    f.size = c.size;
    Put(f);
}

void CChangeList::Add(const HostAdded& c) {
    Fields f;
    f.what = RecordChange::What::Host;
    f.url = c.url;
    Put(f);
}

void CChangeList::Add(const UrlKeptOut& c) {
    Fields f;
    f.what = RecordChange::What::KeptOut;
    f.state = c.state;
    f.url = c.url;
    Put(f);
}

void AppendJournalEntry(std::string& out, std::uint64_t seq, const CChangeList& changes,
                        const CopyTallies& t) {
    // The body is written in place after room for its length and hash: an entry costs
    // no allocation once `out` has grown.
    const std::size_t start = out.size();
    {
        CRecordBytes put(out, 8 + 11 * CRecordBytes::kNumberBytes + changes.Bytes().size());
        put.Bytes(std::string_view("\0\0\0\0\0\0\0\0", 8));
        put.Number(seq);
        put.Number(changes.Count());
        put.Bytes(changes.Bytes());
        for (std::uint32_t n : {t.files, t.megaBytes, t.kiloRest, t.byteRest, t.unchanged,
                                t.changed, t.added, t.gone, t.failed})
            put.Number(n);
    }
    const std::string_view body = std::string_view(out).substr(start + 8);
    const std::uint32_t size = static_cast<std::uint32_t>(body.size());
    const std::uint32_t hash = EntryHash(body);
    for (int i = 0; i < 4; ++i) {
        out[start + i] = static_cast<char>((size >> (8 * i)) & 0xff);
        out[start + 4 + i] = static_cast<char>((hash >> (8 * i)) & 0xff);
    }
}

std::vector<JournalEntry> ReadJournalEntries(std::string_view bytes) {
    std::vector<JournalEntry> entries;
    while (bytes.size() >= 8) {
        const std::uint32_t size = GetU32(bytes);
        if (size > bytes.size() - 8 || EntryHash(bytes.substr(8, size)) != GetU32(bytes.substr(4)))
            break;
        Reader in(bytes.substr(8, size));
        bytes.remove_prefix(8 + std::size_t{size});
        JournalEntry entry;
        std::uint64_t count = 0;
        if (!in.Number(entry.seq) || !in.Number(count) || count > size)
            break;
        bool whole = true;
        for (std::uint64_t i = 0; i < count && whole; ++i) {
            RecordChange c;
            whole = GetChange(in, c);
            entry.changes.push_back(std::move(c));
        }
        CopyTallies& t = entry.tallies;
        whole = whole && in.Small(t.files) && in.Small(t.megaBytes) && in.Small(t.kiloRest) &&
                in.Small(t.byteRest) && in.Small(t.unchanged) && in.Small(t.changed) &&
                in.Small(t.added) && in.Small(t.gone) && in.Small(t.failed) && in.Empty();
        if (!whole)
            break;
        entries.push_back(std::move(entry));
    }
    return entries;
}

CJournalFile::~CJournalFile() {
    Close();
}

bool CJournalFile::OpenEmpty(const std::string& path) {
    Close();
    m_fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
    m_end = 0;
    m_reserved = 0;
    m_bCanReserve = true;
    return m_fd >= 0;
}

void CJournalFile::Reserve(std::uint64_t size) {
    constexpr std::uint64_t kStep = 1024 * 1024;
    const std::uint64_t want = std::max({size, m_reserved * 2, kStep});
    // Without it, entries are written past the end as plain appends.
    if (::fallocate(m_fd, 0, 0, static_cast<off_t>(want)) == 0)
        m_reserved = want;
    else
        m_bCanReserve = false;
}

bool CJournalFile::Append(std::string_view bytes) {
    if (m_fd >= 0 && m_bCanReserve && m_end + bytes.size() > m_reserved)
        Reserve(m_end + bytes.size());
    while (m_fd >= 0 && !bytes.empty()) {
        const ssize_t n = ::pwrite(m_fd, bytes.data(), bytes.size(), static_cast<off_t>(m_end));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            Close();
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
        m_end += static_cast<std::uint64_t>(n);
    }
    return m_fd >= 0;
}

bool CJournalFile::Truncate() {
    m_end = 0;
    return m_fd >= 0;
}

void CJournalFile::Close() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

}  // namespace tandril
