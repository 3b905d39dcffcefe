#include "engine/mirror_job.h"
#include "url/local_path.h"
#include "url/uri.h"

namespace tandril {
namespace {

std::string VisitedKey(const LocalName& name) {
    return name.localDir + name.fileName;
}

}  // namespace

bool CMirrorJob::IsVisited(const std::string& url) const {
    return IsVisited(LocalNameForUrl(url));
}

bool CMirrorJob::IsVisited(const LocalName& name) const {
    return m_mapVisited.count(VisitedKey(name)) != 0;
}

bool CMirrorJob::EnqueueUrl(const std::string& url, int kind) {
    return EnqueueUrl(url, kind, LocalNameForUrl(url));
}

bool CMirrorJob::EnqueueUrl(const std::string& url, int kind, LocalName name) {
    // Keyed by the local file: URLs that would be saved as one file (/a and /a/,
    // /a/index.htm, escapes written or not) are fetched once.
    if (!m_mapVisited.insert(VisitedKey(name)).second) {
        return false;
    }
    std::uint32_t level = m_nLevel;
    if (kind != kHyperlink && level > 0) {
        level -= 1;
    }
    m_listQueue.push_back(
        CQueueEntry{url, level, std::move(name.fileName), std::move(name.localDir)});
    return true;
}

void CMirrorJob::ResetUrlState() {
    m_mapVisited.clear();
    m_listQueue.clear();
    m_strCheckedDir.clear();
    for (auto& cache : m_linkCache) {
        cache.Clear();
    }
    m_strLinkCacheUrl.clear();
    m_strLinkCacheContext.clear();
    m_strPageAuthority.assign(1, '\0');
    m_strPageScheme.assign(1, '\0');
    CloseScanFiles();
    m_nLevel = 0;
}

}  // namespace tandril
