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

std::string CMirrorJob::LocalLink(const std::string& path) const {
    return "file://" + EncodeLocalPath(m_strTargetDir) + RemoveDotSegments(path).substr(1);
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
    std::string abs = m_strSiteRoot + PageDirectory(m_strUrl, m_strSiteRoot) + link;
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
            std::string dir = PageDirectory(m_strUrl, m_strSiteRoot);
            while (link.compare(0, 3, "../") == 0) {
                link.erase(0, 3);
                ParentDirectory(dir);
            }
            link = m_strSiteRoot + dir + link;
            break;
        }
        case LinkForm::NetworkPath: {
            std::size_t slash = link.find('/', 2);
            std::string host = link.substr(2, slash == std::string::npos ? std::string::npos
                                                                          : slash - 2);
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
