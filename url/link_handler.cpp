#include "engine/mirror_job.h"
#include "url/link_decision.h"
#include "url/local_path.h"
#include "url/url_text.h"

namespace tandril {

const UriRef& CMirrorJob::CurrentPageBase() {
    // After a redirect the page's links are relative to where its content came from.
    const std::string& url = m_strBaseUrl.empty() ? m_strUrl : m_strBaseUrl;
    if (m_strPageBaseKey != url || !m_pageBase.hasScheme) {
        m_strPageBaseKey = url;
        m_pageBase = PageBase(url);
    }
    if (m_strPageAuthority != m_pageBase.authority || m_strPageScheme != m_pageBase.scheme) {
        m_bPageOnSite = OnSiteHost(m_pageBase);
        m_bPageAtStartRoot = AtStartRoot(m_pageBase);
        m_strPageScheme = m_pageBase.scheme;
        m_strPageAuthority = m_pageBase.authority;
    }
    return m_pageBase;
}

void CMirrorJob::AddSiteHost(const std::string& url) {
    const UriRef ref = ParseUriRef(url);
    if (!ref.hasAuthority || IsSiteUrl(ref) || DefaultPort(ref.scheme) == 0) {
        return;
    }
    const HostPort hp = SplitAuthority(ref.authority);
    std::string scheme = EqualsNoCase(ref.scheme, "https") ? "https" : "http";
    if (hp.portValid && !hp.host.empty()) {
        const unsigned port = hp.port != 0 ? hp.port : DefaultPort(scheme);
        m_siteHosts.push_back(SiteHost{hp.host, std::move(scheme), port});
        m_strPageAuthority.assign(1, '\0');
        m_strPageScheme.assign(1, '\0');
        // Links decided before may lead to the new host.
        for (auto& cache : m_linkCache) {
            cache.Clear();
        }
    }
}

bool CMirrorJob::IsSiteUrl(const UriRef& url) const {
    // Most links are relative: they share the page's scheme and authority.
    if (url.authority == m_strPageAuthority && url.scheme == m_strPageScheme)
        return m_bPageOnSite;
    return OnSiteHost(url);
}

bool CMirrorJob::OnSiteHost(const UriRef& url) const {
    const unsigned defaultPort = DefaultPort(url.scheme);
    if (!url.hasAuthority || defaultPort == 0)
        return false;
    const HostPort hp = SplitAuthority(url.authority);
    if (!hp.portValid)
        return false;
    const unsigned port = hp.port != 0 ? hp.port : defaultPort;
    for (const SiteHost& site : m_siteHosts) {
        if (hp.host != site.host)
            continue;
        // On the site's own scheme its port counts; on the other, that scheme's default.
        const bool sameScheme = EqualsNoCase(url.scheme, site.scheme);
        if (port == (sameScheme ? site.port : defaultPort))
            return true;
    }
    return false;
}

std::string CMirrorJob::SiteUrlText(const UriRef& url) const {
    // URLs of the start host and scheme begin with the site root as it was typed;
    // others keep the scheme (lower case) and authority they were found with.
    const bool startRoot = url.authority == m_strPageAuthority && url.scheme == m_strPageScheme
                               ? m_bPageAtStartRoot
                               : AtStartRoot(url);
    std::string text =
        startRoot ? m_strSiteRoot
                  : (EqualsNoCase(url.scheme, "https") ? "https://" : "http://") + url.authority;
    text += url.path.empty() ? std::string("/") : url.path;
    if (url.hasQuery)
        text.append(1, '?').append(url.query);
    return text;
}

bool CMirrorJob::AtStartRoot(const UriRef& url) const {
    const SiteHost& start = m_siteHosts.front();
    const HostPort hp = SplitAuthority(url.authority);
    return EqualsNoCase(url.scheme, start.scheme) && hp.host == start.host &&
           (hp.port != 0 ? hp.port : DefaultPort(url.scheme)) == start.port;
}

LocalName CMirrorJob::CurrentLocalName() const {
    return LocalName{m_strFileName, m_strLocalDir.empty() ? std::string("/") : m_strLocalDir};
}

std::string CMirrorJob::LocalLinkText(const std::string& written, const UriRef& ref,
                                      const LocalName& target) const {
    const LocalName page = CurrentLocalName();
    const bool relativePath =
        !ref.hasScheme && !ref.hasAuthority && (ref.path.empty() || ref.path[0] != '/');
    const bool plain = m_bPageAtItsUrl && written.find_first_of("%?#") == std::string::npos &&
                       written.find("..") == std::string::npos;
    if (relativePath && (plain || LeadsToLocalFile(written, page, target))) {
        std::string text = written;
        CompleteDirectoryLink(text, target);
        return text;
    }
    if (m_limits.m_bRelativeLinks)
        return RelativeLocalLink(page, target);
    return AbsoluteLocalLink(m_strTargetDir, target);
}

// Link texts repeat across the pages of one folder (navigation, headers, sidebars):
// what a link comes to is kept per page context while nothing can change it.
void CMirrorJob::RefreshLinkContext() {
    // The context changes with the page's folder, its local folder and the options.
    const bool samePage = m_strUrl == m_strLinkCacheUrl && m_strBaseUrl == m_strLinkCacheBase &&
                          m_strLocalDir == m_strLinkCacheLocal &&
                          m_strTargetDir == m_strLinkCacheTarget &&
                          m_limits.m_bModifyLinks == m_bLinkCacheModify &&
                          m_limits.m_bRelativeLinks == m_bLinkCacheRelative;
    if (!samePage) {
        m_strLinkCacheUrl = m_strUrl;
        m_strLinkCacheBase = m_strBaseUrl;
        m_strLinkCacheLocal = m_strLocalDir;
        m_strLinkCacheTarget = m_strTargetDir;
        m_bLinkCacheModify = m_limits.m_bModifyLinks;
        m_bLinkCacheRelative = m_limits.m_bRelativeLinks;
        const UriRef& base = CurrentPageBase();
        // Where the page's folder on the server and its folder on disk are one path,
        // a relative reference leads on disk where it leads on the server.
        const std::string baseDir = base.path.substr(0, base.path.find_last_of('/') + 1);
        const std::string localDir =
            m_strLocalDir.empty() || m_strLocalDir == "/" ? "/" : "/" + m_strLocalDir;
        m_bPageAtItsUrl = baseDir == localDir && baseDir.find('%') == std::string::npos;
        std::string context = base.scheme + "//" + base.authority;
        context.append(base.path, 0, base.path.find_last_of('/') + 1);
        context.append(1, '\n').append(m_strLocalDir).append(1, '\n').append(m_strTargetDir);
        context.append(m_limits.m_bModifyLinks ? "\nm" : "\nc");
        context.append(m_limits.m_bRelativeLinks ? "r" : "a");
        if (context != m_strLinkCacheContext) {
            m_strLinkCacheContext = std::move(context);
            for (auto& cache : m_linkCache) {
                cache.Clear();
            }
        }
    }
}

std::optional<std::string_view> CMirrorJob::CachedLinkText(const std::string& link, int kind) {
    // During a scan the page cannot change: the scan checked the context once.
    if (!m_bScanning) {
        RefreshLinkContext();
    }
    return m_linkCache[kind == kHyperlink ? 0 : 1].Find(link);
}

void CMirrorJob::HandleLink(std::string& link, int kind) {
    // An empty value names the page itself, and so does one that begins with "#",
    // "?" or ";" (whatever follows). All stay as found.
    if (link.empty() || link[0] == '#' || link[0] == '?' || link[0] == ';') {
        return;
    }
    // Most links of a page were decided before, as written.
    if (const auto cached = CachedLinkText(link, kind)) {
        link.assign(*cached);
        return;
    }
    // A control byte makes a link no browser would follow: it stays as found.
    if (HasControlByte(link)) {
        return;
    }
    auto& cache = m_linkCache[kind == kHyperlink ? 0 : 1];
    std::string suffix;
    SplitLinkSuffix(link, suffix);
    // Keeps the text decided for the link without its suffix, and for the link as
    // written, then puts the suffix back.
    auto keep = [&](const std::string& key) {
        cache.Put(key, link);
        if (!suffix.empty()) {
            const std::string written = key + suffix;
            link += suffix;
            cache.Put(written, link);
        } else {
            link += suffix;
        }
    };
    if (!suffix.empty()) {
        if (const auto cached = CachedLinkText(link, kind)) {
            const std::string key = link;
            link.assign(*cached);
            keep(key);
            return;
        }
    }
    // The cache key, kept while the link is decided.
    const std::string key = link;
    const UriRef ref = ParseUriRef(link);
    const UriRef target = Resolve(CurrentPageBase(), ref);

    LinkFacts facts;
    facts.onSite = IsSiteUrl(target);
    if (!facts.onSite) {
        // A network-path link elsewhere would name a file on the local disk.
        if (ref.hasAuthority && !ref.hasScheme) {
            link.insert(0, "http:");
        }
        keep(key);
        return;
    }
    const std::string url = SiteUrlText(target);
    facts.hyperlink = kind == kHyperlink;
    facts.cgi = IsCgiLink(target.path);
    const LocalName local =
        LocalNameForPath(target.hasQuery ? target.path + "?" + target.query : target.path);
    facts.visited = IsVisited(local);
    facts.levelLeft = m_nLevel < m_limits.m_nMaxLevels;

    // Once followed a link stays local; a live link may become local on a later page
    // (when its target gets queued), so only a CGI link's live text is kept.
    bool cacheable = true;
    switch (DecideLink(facts)) {
        case LinkAction::Keep:
            break;
        case LinkAction::Follow:
            EnqueueUrl(url, kind, local);
            [[fallthrough]];
        case LinkAction::Local:
            // Copy only writes the page as sent; the text is of no use then.
            if (m_limits.m_bModifyLinks) {
                link = LocalLinkText(link, ref, local);
            }
            break;
        case LinkAction::Live:
            link = url;
            cacheable = facts.cgi;
            break;
    }
    if (cacheable) {
        keep(key);
    } else {
        link += suffix;
    }
}

}  // namespace tandril
