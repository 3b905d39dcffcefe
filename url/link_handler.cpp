#include "engine/mirror_job.h"
#include "url/link_decision.h"
#include "url/local_path.h"
#include "url/url_text.h"

namespace tandril {

const UriRef& CMirrorJob::CurrentPageBase() {
    if (m_strPageBaseKey != m_strUrl || !m_pageBase.hasScheme) {
        m_strPageBaseKey = m_strUrl;
        m_pageBase = PageBase(m_strUrl);
    }
    return m_pageBase;
}

bool CMirrorJob::IsSiteUrl(const UriRef& url) const {
    if (!url.hasAuthority || !EqualsNoCase(url.scheme, "http"))
        return false;
    HostPort hp = SplitAuthority(url.authority);
    unsigned port = hp.port != 0 ? hp.port : DefaultPort(url.scheme);
    return hp.portValid && hp.host == m_strSiteHost && port == m_nSitePort;
}

std::string CMirrorJob::SiteUrlText(const UriRef& url) const {
    std::string text = m_strSiteRoot;
    text += url.path.empty() ? std::string("/") : url.path;
    if (url.hasQuery)
        text.append(1, '?').append(url.query);
    return text;
}

LocalName CMirrorJob::CurrentLocalName() const {
    return LocalName{m_strFileName, m_strLocalDir.empty() ? std::string("/") : m_strLocalDir};
}

std::string CMirrorJob::LocalLinkText(const std::string& written, const UriRef& ref,
                                      const std::string& url) const {
    const LocalName target = LocalNameForUrl(url);
    const LocalName page = CurrentLocalName();
    const bool relativePath =
        !ref.hasScheme && !ref.hasAuthority && (ref.path.empty() || ref.path[0] != '/');
    if (relativePath && LeadsToLocalFile(written, page, target)) {
        std::string text = written;
        CompleteDirectoryLink(text, target);
        return text;
    }
    if (m_limits.m_bRelativeLinks)
        return RelativeLocalLink(page, target);
    return AbsoluteLocalLink(m_strTargetDir, target);
}

void CMirrorJob::HandleLink(std::string& link, int kind) {
    // An empty value names the page itself, and so does one that begins with "#",
    // "?" or ";" (whatever follows); a control byte makes a link no browser would
    // follow. All stay as found.
    if (link.empty() || link[0] == '#' || link[0] == '?' || link[0] == ';' ||
        HasControlByte(link)) {
        return;
    }
    std::string suffix;
    SplitLinkSuffix(link, suffix);
    const UriRef ref = ParseUriRef(link);
    const UriRef target = Resolve(CurrentPageBase(), ref);

    LinkFacts facts;
    facts.onSite = IsSiteUrl(target);
    if (!facts.onSite) {
        // A network-path link elsewhere would name a file on the local disk.
        if (ref.hasAuthority && !ref.hasScheme) {
            link.insert(0, "http:");
        }
        link += suffix;
        return;
    }
    const std::string url = SiteUrlText(target);
    facts.hyperlink = kind == kHyperlink;
    facts.cgi = IsCgiLink(target.path);
    facts.visited = IsVisited(url);
    facts.levelLeft = m_nLevel < m_limits.m_nMaxLevels;

    switch (DecideLink(facts)) {
        case LinkAction::Keep:
            break;
        case LinkAction::Follow:
            EnqueueUrl(url, kind);
            [[fallthrough]];
        case LinkAction::Local:
            // Copy only writes the page as sent; the text is of no use then.
            if (m_limits.m_bModifyLinks) {
                link = LocalLinkText(link, ref, url);
            }
            break;
        case LinkAction::Live:
            link = url;
            break;
    }
    link += suffix;
}

}  // namespace tandril
