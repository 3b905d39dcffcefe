#include "engine/mirror_job.h"
#include "url/local_path.h"
#include "url/url_text.h"

namespace tandril {
namespace {

// Removes the last segment of a directory path ("/a/b/" -> "/a/"), never above "/".
void ParentDirectory(std::string& dir) {
    if (dir.size() <= 1) {
        return;
    }
    std::size_t slash = dir.find_last_of('/', dir.size() - 2);
    dir.resize(slash + 1);
}

}  // namespace

const std::string& CMirrorJob::CurrentPageDirectory() {
    // The key holds the site root too: the directory is relative to it.
    if (m_strPageDir.empty() || m_strPageDirKey.size() != m_strSiteRoot.size() + m_strUrl.size() ||
        m_strPageDirKey.compare(m_strSiteRoot.size(), std::string::npos, m_strUrl) != 0 ||
        m_strPageDirKey.compare(0, m_strSiteRoot.size(), m_strSiteRoot) != 0) {
        m_strPageDirKey = m_strSiteRoot + m_strUrl;
        m_strPageDir = PageDirectory(m_strUrl, m_strSiteRoot);
    }
    return m_strPageDir;
}

std::string CMirrorJob::LocalLink(const std::string& path) const {
    if (m_strTargetDirUrl.empty() || m_strTargetDirUrlKey != m_strTargetDir) {
        m_strTargetDirUrlKey = m_strTargetDir;
        m_strTargetDirUrl = "file://" + EncodeLocalPath(m_strTargetDir);
    }
    std::string clean = RemoveDotSegments(path);
    std::string link;
    link.reserve(m_strTargetDirUrl.size() + clean.size());
    link.append(m_strTargetDirUrl).append(clean, 1, std::string::npos);
    return link;
}

void CMirrorJob::CompleteFromLastEntry(std::string& link) const {
    if (m_listQueue.empty() || m_listQueue.back().strFileName != "index.htm") {
        return;
    }
    if (link.empty() || link.back() != '/') {
        link += '/';
    }
    link += "index.htm";
}

void CMirrorJob::HandleAbsolutePath(std::string& link, int kind) {
    std::string abs = m_strSiteRoot + link;
    if (kind != kHyperlink) {
        EnqueueUrl(abs, kind);
        link = LocalLink(link);
    } else if (IsCgiLink(link)) {
        link = abs;
    } else if (m_mapVisited.count(abs) != 0) {
        link = LocalLink(link);
        CompleteDirectoryLink(link);
    } else if (m_nLevel >= m_limits.m_nMaxLevels) {
        link = abs;
    } else {
        EnqueueUrl(abs, kind);
        link = LocalLink(link);
        CompleteFromLastEntry(link);
    }
}

void CMirrorJob::HandleRelative(std::string& link, int kind) {
    const std::string& dir = CurrentPageDirectory();
    std::string abs;
    abs.reserve(m_strSiteRoot.size() + dir.size() + link.size());
    abs.append(m_strSiteRoot).append(dir).append(link);
    if (kind != kHyperlink) {
        EnqueueUrl(abs, kind);
    } else if (IsCgiLink(link)) {
        link = abs;
    } else if (m_mapVisited.count(abs) != 0) {
        CompleteDirectoryLink(link);
    } else if (m_nLevel >= m_limits.m_nMaxLevels) {
        link = abs;
    } else {
        EnqueueUrl(abs, kind);
        CompleteFromLastEntry(link);
    }
}

void CMirrorJob::HandleLink(std::string& link, int kind) {
    // An empty value names the page itself; a control byte makes a link no browser
    // would follow. Both stay as found.
    if (link.empty() || HasControlByte(link)) {
        return;
    }
    std::string suffix;
    if (SplitLinkSuffix(link, suffix) == SuffixSplit::AtStart) {
        return;
    }
    switch (ClassifyLink(link)) {
        case LinkForm::ParentRelative: {
            std::string dir = CurrentPageDirectory();
            while (link.compare(0, 3, "../") == 0) {
                link.erase(0, 3);
                ParentDirectory(dir);
            }
            link = m_strSiteRoot + dir + link;
            break;
        }
        case LinkForm::NetworkPath: {
            std::size_t slash = link.find('/', 2);
            std::string host =
                link.substr(2, slash == std::string::npos ? std::string::npos : slash - 2);
            if (EqualsNoCase(host, m_strHost)) {
                link = slash == std::string::npos ? std::string("/") : link.substr(slash);
                HandleAbsolutePath(link, kind);
            } else {
                link = "http:" + link;
            }
            break;
        }
        case LinkForm::AbsolutePath:
            HandleAbsolutePath(link, kind);
            break;
        case LinkForm::Scheme:
            break;
        case LinkForm::Relative:
            HandleRelative(link, kind);
            break;
    }
    link += suffix;
}

}  // namespace tandril
