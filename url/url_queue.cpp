#include "engine/mirror_job.h"
#include "url/local_path.h"
#include "url/url_text.h"

namespace tandril {

bool CMirrorJob::EnqueueUrl(const std::string& url, int kind) {
    if (!m_mapVisited.insert(url).second) {
        return false;
    }
    std::uint32_t level = m_nLevel;
    if (kind != kHyperlink && level > 0) {
        level -= 1;
    }
    LocalName name = LocalNameForUrl(url, m_strSiteRoot);
    if (IsDirectoryUrl(url)) {
        // The alias names the same local file, so a later link written with
        // "index.htm" is not fetched a second time.
        m_mapVisited.insert(url.back() == '/' ? url + "index.htm" : url + "/index.htm");
    }
    m_listQueue.push_back(
        CQueueEntry{url, level, std::move(name.fileName), std::move(name.localDir)});
    return true;
}

void CMirrorJob::ResetUrlState() {
    m_mapVisited.clear();
    m_listQueue.clear();
    CloseScanFiles();
    m_nLevel = 0;
}

}  // namespace tandril
