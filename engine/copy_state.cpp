#include "engine/mirror_job.h"
#include "platform/fs.h"
#include "url/uri.h"

namespace tandril {

CopySettings CMirrorJob::CurrentCopySettings() const {
    CopySettings s;
    s.startUrl = m_strStartUrl;
    s.modifyLinks = m_limits.m_bModifyLinks;
    s.relativeLinks = m_limits.m_bRelativeLinks;
    s.offsiteEmbedded = m_limits.m_bOffsiteEmbedded;
    s.obeyRobots = m_limits.m_bObeyRobots;
    s.noParent = m_limits.m_bNoParent;
    s.maxLevels = m_limits.m_nMaxLevels;
    s.maxFiles = m_limits.m_nMaxFiles;
    s.maxMegaBytes = m_limits.m_nMaxMegaBytes;
    s.skipPatterns = m_limits.m_skipPatterns;
    s.followPatterns = m_limits.m_followPatterns;
    return s;
}

void CMirrorJob::TakeCopySettings(const CopySettings& settings) {
    // A copy's files are all written one way: a continued or updated copy keeps it.
    m_limits.m_bModifyLinks = settings.modifyLinks;
    m_limits.m_bRelativeLinks = settings.relativeLinks;
    m_limits.m_bOffsiteEmbedded = settings.offsiteEmbedded;
    ForgetLinkTexts();
}

CopyTallies CMirrorJob::CurrentTallies() const {
    CopyTallies t = m_counts;
    t.files = m_limits.m_nFiles;
    t.megaBytes = m_limits.m_nMegaBytes;
    t.kiloRest = m_limits.m_nKiloRest;
    t.byteRest = m_limits.m_nByteRest;
    return t;
}

void CMirrorJob::StartRecording() {
    m_bRecording = true;
    m_changes.Clear();
    // The start URL was queued before the record was open.
    if (m_nUrlId != CVisitedSet::kNone) {
        m_changes.Add(UrlMet{m_nUrlId, m_strUrl,
                             LocalName{m_strBaseName, CurrentLocalName().localDir},
                             m_mapVisited.Name(m_nUrlId), 0});
    }
}

bool CMirrorJob::RestoreCopy(RecordedCopy&& copy) {
    const bool recording = m_bRecording;
    m_bRecording = false;
    ResetUrlState();
    bool consistent = true;
    for (std::size_t id = 0; id < copy.urls.size() && consistent; ++id) {
        const RecordedUrl& url = copy.urls[id];
        consistent = m_mapVisited.Insert(url.base, url.name) == id;
        if (!consistent)
            break;
        const auto uid = static_cast<std::uint32_t>(id);
        if (url.state == UrlState::Fetched)
            m_mapVisited.MarkFetched(uid, url.name);
        else if (url.state != UrlState::Queued)
            m_mapVisited.MarkFailed(uid);
    }
    for (const PageAdded& page : copy.pages) {
        if (page.page >= (1u << 30))
            consistent = false;
        else
            m_fixups.SetPage(page.page, page.name, page.stylesheet, page.id);
    }
    if (!consistent) {
        ResetUrlState();
        m_bRecording = recording;
        return false;
    }
    if (!copy.urls.empty() && copy.urls[0].state == UrlState::Fetched &&
        FileTypeOf("", copy.urls[0].name) == FileType::Html) {
        m_limits.m_bFirstPage = false;
        m_limits.m_strStartPage = m_strTargetDir + LocalPathOf(copy.urls[0].name);
    }
    for (const LinkNoted& note : copy.notes)
        m_mapVisited.NoteLink(note.target, note.page);
    for (const std::string& host : copy.hosts)
        AddSiteHost(host);
    for (std::size_t id = 0; id < copy.urls.size(); ++id) {
        RecordedUrl& url = copy.urls[id];
        if (url.state != UrlState::Queued)
            continue;
        m_listQueue.push_back(CQueueEntry{
            std::move(url.url), url.level, std::move(url.name.fileName),
            std::move(url.name.localDir), url.base.fileName, static_cast<std::uint32_t>(id)});
    }
    m_limits.m_nFiles = copy.tallies.files;
    m_limits.m_nMegaBytes = copy.tallies.megaBytes;
    m_limits.m_nKiloRest = copy.tallies.kiloRest;
    m_limits.m_nByteRest = copy.tallies.byteRest;
    m_counts = copy.tallies;
    m_bRecording = recording;
    return true;
}

void CMirrorJob::RecordPageNotes() {
    if (m_bRecording && m_nPageId != CVisitedSet::kNone) {
        m_changes.Add(PageAdded{m_nPageId, m_nUrlId, CurrentLocalName(), m_pass.m_bScanCss,
                                std::move(m_pageNotes)});
    }
    m_pageNotes.clear();
}

void CMirrorJob::RecordSaved(const Answer& answer, bool scanned) {
    if (m_nUrlId == CVisitedSet::kNone)
        return;
    if (m_bUpdating)
        (m_previous.count(m_strUrl) != 0 ? m_counts.changed : m_counts.added) += 1;
    if (!m_bRecording)
        return;
    UrlDone done;
    done.id = m_nUrlId;
    done.state = UrlState::Fetched;
    done.name = CurrentLocalName();
    done.status = answer.status;
    done.etag = answer.etag;
    done.modified = answer.lastModified;
    done.type = answer.contentType;
    done.size = m_pass.m_nSavedBytes;
    m_changes.Add(std::move(done));
    if (scanned) {
        m_changes.AddLinks(m_nUrlId, m_strBaseUrl.empty() ? m_strUrl : m_strBaseUrl,
                           m_bPageNoFollow, m_pageLinks);
        m_pageLinks.clear();
        RecordPageNotes();
    }
}

const PreviousFile* CMirrorJob::PreviousOf(const std::string& url) const {
    if (m_previous.empty())
        return nullptr;
    const auto it = m_previous.find(url);
    return it == m_previous.end() ? nullptr : &it->second;
}

RequestConditions CMirrorJob::ConditionsFor(const std::string& url) const {
    const PreviousFile* previous = PreviousOf(url);
    // Without its file the copy needs the body, whatever the server would say.
    if (previous == nullptr || !IsRegularFile(m_strTargetDir + LocalPathOf(previous->name)))
        return {};
    // A page whose links the record lacks is read again: its links lead on.
    if (!previous->page && FileTypeOf(previous->type, previous->name) != FileType::Other)
        return {};
    return RequestConditions{previous->etag, previous->modified};
}

FileType CMirrorJob::TakeUnchanged(const PreviousFile& previous, const Answer& answer) {
    const FileType type = TakeFileType(previous.type);
    if (m_limits.m_bFirstPage && type == FileType::Html) {
        m_limits.m_bFirstPage = false;
        m_limits.m_strStartPage = m_strTargetDir + LocalPathOf(CurrentLocalName());
    }
    m_counts.unchanged += 1;
    bool replayed = false;
    if (type != FileType::Other && previous.page) {
        // The links the page had are met again, in its order, as its scan met them.
        std::vector<RecordedLink> links;
        if (DecodeLinks(previous.links, links)) {
            ResetScan();
            m_pass.m_bScanCss = type == FileType::Stylesheet;
            m_strBaseUrl = previous.base;
            m_bPageNoFollow = previous.nofollow;
            RefreshLinkContext();
            m_pass.m_bScanning = true;
            for (RecordedLink& link : links) {
                if (link.kind == kBaseHref)
                    continue;
                std::string text = link.found;
                HandleLink(text, link.kind);
            }
            m_pass.m_bScanning = false;
            replayed = true;
        }
    }
    if (m_bRecording) {
        UrlDone done;
        done.id = m_nUrlId;
        done.state = UrlState::Fetched;
        done.name = CurrentLocalName();
        done.status = 304;
        done.etag = answer.etag.empty() ? previous.etag : answer.etag;
        done.modified = answer.lastModified.empty() ? previous.modified : answer.lastModified;
        done.type = previous.type;
        done.size = FileSizeOf(m_strTargetDir + LocalPathOf(done.name));
        m_changes.Add(std::move(done));
        if (previous.page) {
            m_changes.AddLinks(m_nUrlId, previous.base, previous.nofollow, previous.links);
            if (replayed)
                RecordPageNotes();
        }
    }
    return type;
}

}  // namespace tandril
