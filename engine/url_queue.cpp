#include <unordered_map>

#include "engine/messages.h"
#include "engine/mirror_job.h"
#include "engine/progress.h"
#include "platform/fs.h"
#include "url/local_path.h"
#include "url/uri.h"

namespace tandril {

bool CMirrorJob::IsVisited(const std::string& url) const {
    return IsVisited(LocalNameForUrl(url));
}

bool CMirrorJob::IsVisited(const LocalName& base) const {
    return m_mapVisited.Find(base) != CVisitedSet::kNone;
}

bool CMirrorJob::EnqueueUrl(const std::string& url, int kind) {
    const LocalName base = LocalNameForUrl(url);
    LocalName name = TypedLocalName(base, PredictFileType(base, kind == kHyperlink));
    return EnqueueUrl(url, kind, base, std::move(name)) != CVisitedSet::kNone;
}

std::uint32_t CMirrorJob::EnqueueUrl(const std::string& url, int kind, const LocalName& base,
                                     LocalName name) {
    // Keyed by the local file: URLs that would be saved as one file (/a and /a/,
    // /a/index.htm, escapes written or not) are fetched once.
    if (const PreviousFile* previous = PreviousOf(url)) {
        // Pages of the copy being updated link to the name its file has.
        if (previous->name.localDir == name.localDir)
            name = previous->name;
    }
    const std::uint32_t id = m_mapVisited.Insert(base, name);
    if (id == CVisitedSet::kNone) {
        return id;
    }
    std::uint32_t level = m_nLevel;
    if (kind != kHyperlink && level > 0) {
        level -= 1;
    }
    if (m_bRecording) {
        m_changes.AddMet(id, url, base, name, level);
    }
    m_listQueue.push_back(CQueueEntry{url, level, std::move(name.fileName),
                                      std::move(name.localDir), base.fileName, id});
    return id;
}

void CMirrorJob::ResetUrlState() {
    m_mapVisited.clear();
    m_listQueue.clear();
    m_fixups.Clear();
    m_notes.clear();
    m_refusedLinks.clear();
    m_refusedNoted.clear();
    m_keptOutRecorded.clear();
    m_nNofollowLinks = 0;
    m_nPageId = CVisitedSet::kNone;
    m_nUrlId = CVisitedSet::kNone;
    m_strCheckedDir.clear();
    ForgetLinkTexts();
    m_strLinkCacheUrl.clear();
    m_strLinkCacheContext.clear();
    m_strPageAuthority.assign(1, '\0');
    m_strPageScheme.assign(1, '\0');
    m_pass.CloseFiles();
    m_nLevel = 0;
    m_changes.Clear();
    m_pageLinks.clear();
    m_pageNotes.clear();
}

FileType CMirrorJob::TakeFileType(const std::string& contentType) {
    const LocalName base{m_strBaseName, m_strLocalDir.empty() ? std::string("/") : m_strLocalDir};
    const FileType type = FileTypeOf(contentType, base);
    const LocalName name = TypedLocalName(base, type);
    if (m_nUrlId == CVisitedSet::kNone) {
        m_strFileName = name.fileName;
        return type;
    }
    const LocalName expected = m_mapVisited.Name(m_nUrlId);
    const std::vector<std::uint32_t> pages = m_mapVisited.MarkFetched(m_nUrlId, name);
    if (!(expected == name)) {
        m_strFileName = name.fileName;
        m_fixups.Add(pages, expected, name);
        // Texts decided for the old name are stale.
        ForgetLinkTexts();
    }
    return type;
}

void CMirrorJob::TakeFailure(bool keptOut, UrlState state, const std::string& reason) {
    if (m_nUrlId == CVisitedSet::kNone || m_mapVisited.Failed(m_nUrlId)) {
        return;
    }
    if (m_bUpdating && state != UrlState::Refused && state != UrlState::Excluded) {
        (state == UrlState::Gone ? m_counts.gone : m_counts.failed) += 1;
    }
    if (m_bRecording) {
        UrlDone done;
        done.id = m_nUrlId;
        done.state = state;
        done.name = m_mapVisited.Name(m_nUrlId);
        done.reason = reason;
        m_changes.Add(std::move(done));
    }
    const std::vector<std::uint32_t> pages = m_mapVisited.MarkFailed(m_nUrlId);
    const std::string offsite = std::string(kOffsiteFolder) + "/";
    if (keptOut || m_strLocalDir.compare(0, offsite.size(), offsite) == 0) {
        m_fixups.AddLive(pages, m_mapVisited.Name(m_nUrlId), m_strUrl);
        ForgetLinkTexts();
    }
}

void CMirrorJob::FixLinks(CProgressLog& log, const CLinkFixups::ReplacingFn& replacing) {
    if (!m_fixups.Pending()) {
        return;
    }
    // The record checks a saved file by its size: a rewritten page's is the one noted
    // before its new text took its place.
    std::unordered_map<std::uint32_t, std::uint64_t> sizes;
    CLinkFixups::ReplacingFn noteSize;
    if (m_bRecording) {
        noteSize = [&sizes, &replacing](std::uint32_t id, std::uint64_t size) {
            sizes[id] = size;
            if (replacing)
                replacing(id, size);
        };
    }
    std::vector<std::uint32_t> rewritten;
    for (const std::string& page : m_fixups.Apply(m_strTargetDir, PageTempFilePath(),
                                                  m_limits.m_bRelativeLinks, rewritten, noteSize)) {
        log.AddLogArg(kIdsCannotCreateFile, page);
    }
    for (std::uint32_t id : rewritten) {
        if (const auto it = sizes.find(id); it != sizes.end())
            m_changes.Add(FileResized{id, it->second});
    }
}

}  // namespace tandril
