#include "engine/messages.h"
#include "engine/mirror_job.h"
#include "url/link_decision.h"
#include "url/local_path.h"
#include "url/url_text.h"

namespace tandril {
namespace {

// True when the last segment of a plain relative reference is the target's file
// name, or names its directory (for an index.htm).
bool NamesFile(std::string_view written, const LocalName& target) {
    const std::string_view last = written.substr(written.find_last_of('/') + 1);
    if (target.fileName == "index.htm")
        return last.find('.') == std::string_view::npos || last == "index.htm";
    return last == target.fileName;
}

bool IsFetchableUrl(const UriRef& url) {
    if (!url.hasAuthority || DefaultPort(url.scheme) == 0)
        return false;
    const HostPort hp = SplitAuthority(url.authority);
    return hp.portValid && !hp.host.empty();
}

// A URL of another host as it is queued: scheme in lower case, path at least "/".
std::string OffsiteUrlText(const UriRef& url) {
    std::string text = EqualsNoCase(url.scheme, "https") ? "https://" : "http://";
    text += url.authority;
    text += url.path.empty() ? std::string("/") : url.path;
    if (url.hasQuery)
        text.append(1, '?').append(url.query);
    return text;
}

}  // namespace

const UriRef& CMirrorJob::CurrentPageBase() {
    // After a redirect the page's links are relative to where its content came from.
    const std::string& url = m_strBaseUrl.empty() ? m_strUrl : m_strBaseUrl;
    if (m_strPageBaseKey != url || !m_pageBase.hasScheme) {
        m_strPageBaseKey = url;
        m_pageBase = PageBase(url);
    }
    if (m_strPageAuthority != m_pageBase.authority || m_strPageScheme != m_pageBase.scheme) {
        m_bPageOnSite = m_scope.hosts.Contains(m_pageBase);
        m_bPageAtStartRoot = m_scope.hosts.IsStart(m_pageBase);
        m_strPageScheme = m_pageBase.scheme;
        m_strPageAuthority = m_pageBase.authority;
    }
    return m_pageBase;
}

void CMirrorJob::AddSiteHost(const std::string& url) {
    if (!m_scope.hosts.Add(url)) {
        return;
    }
    if (m_bRecording) {
        m_changes.Add(HostAdded{url});
    }
    m_strPageAuthority.assign(1, '\0');
    m_strPageScheme.assign(1, '\0');
    // Links decided before may lead to the new host.
    ForgetLinkTexts();
}

bool CMirrorJob::IsSiteUrl(const UriRef& url) const {
    // Most links are relative: they share the page's scheme and authority.
    if (url.authority == m_strPageAuthority && url.scheme == m_strPageScheme)
        return m_bPageOnSite;
    return m_scope.hosts.Contains(url);
}

std::string CMirrorJob::SiteUrlText(const UriRef& url) const {
    // URLs of the start host and scheme begin with the site root as it was typed;
    // others keep the scheme (lower case) and authority they were found with.
    const bool startRoot = url.authority == m_strPageAuthority && url.scheme == m_strPageScheme
                               ? m_bPageAtStartRoot
                               : m_scope.hosts.IsStart(url);
    std::string text =
        startRoot ? m_strSiteRoot
                  : (EqualsNoCase(url.scheme, "https") ? "https://" : "http://") + url.authority;
    text += url.path.empty() ? std::string("/") : url.path;
    if (url.hasQuery)
        text.append(1, '?').append(url.query);
    return text;
}

LocalName CMirrorJob::CurrentLocalName() const {
    return LocalName{m_strFileName, m_strLocalDir.empty() ? std::string("/") : m_strLocalDir};
}

std::string CMirrorJob::LocalLinkText(const std::string& written, const UriRef& ref,
                                      const LocalName& target) const {
    const LocalName page = CurrentLocalName();
    const bool relativePath =
        !ref.hasScheme && !ref.hasAuthority && (ref.path.empty() || ref.path[0] != '/');
    const bool plain = m_bPageAtItsUrl && target.localDir.find('%') == std::string::npos &&
                       written.find_first_of("%?#\\:*\"<>|@") == std::string::npos &&
                       written.find("..") == std::string::npos && NamesFile(written, target);
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
                          m_limits.m_bRelativeLinks == m_bLinkCacheRelative &&
                          m_limits.m_bOffsiteEmbedded == m_bLinkCacheOffsite;
    if (!samePage) {
        m_strLinkCacheUrl = m_strUrl;
        m_strLinkCacheBase = m_strBaseUrl;
        m_strLinkCacheLocal = m_strLocalDir;
        m_strLinkCacheTarget = m_strTargetDir;
        m_bLinkCacheModify = m_limits.m_bModifyLinks;
        m_bLinkCacheRelative = m_limits.m_bRelativeLinks;
        m_bLinkCacheOffsite = m_limits.m_bOffsiteEmbedded;
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
        context.append(m_limits.m_bOffsiteEmbedded ? "o" : "s");
        if (context != m_strLinkCacheContext) {
            m_strLinkCacheContext = std::move(context);
            ForgetLinkTexts();
        }
    }
}

std::optional<std::string_view> CMirrorJob::CachedLinkText(const std::string& link, int kind,
                                                           std::uint32_t& id) {
    // During a scan the page cannot change: the scan checked the context once.
    if (!m_pass.m_bScanning) {
        RefreshLinkContext();
    }
    return CacheFor(kind).Find(link, &id);
}

void CMirrorJob::NoteLocalLink(std::uint32_t id) {
    // Only a text written for a target not fetched yet can be left behind by its name.
    if (id == CVisitedSet::kNone || !m_limits.m_bModifyLinks || m_mapVisited.Fetched(id)) {
        return;
    }
    if (m_nPageId == CVisitedSet::kNone) {
        m_nPageId = m_fixups.AddPage(CurrentLocalName(), m_pass.m_bScanCss, m_nUrlId);
    }
    if (m_mapVisited.NoteLink(id, m_nPageId) && m_bRecording) {
        PutRecordNumber(m_pageNotes, id);
    }
}

void CMirrorJob::NoteLinkLeft(const LinkFacts& facts, const std::string& url) {
    if (facts.refused) {
        if (m_refusedNoted.insert(url).second) {
            std::string line;
            LoadMessage(kIdsRobotsRefused, line, &url);
            m_notes.push_back(std::move(line));
            m_refusedLinks.push_back(url);
        }
        return;
    }
    LinkFacts asked = facts;
    asked.nofollow = false;
    if (facts.nofollow && DecideLink(asked) == LinkAction::Follow) {
        if (m_nNofollowLinks++ == 0) {
            std::string line;
            LoadMessage(kIdsNofollowPages, line);
            m_notes.push_back(std::move(line));
        }
    }
}

void CMirrorJob::TakeRobotsDirective(std::string_view content) {
    // "nofollow" or "none" among the comma-separated values, any letter case.
    std::size_t pos = 0;
    while (pos <= content.size()) {
        std::size_t end = content.find(',', pos);
        if (end == std::string_view::npos)
            end = content.size();
        std::string_view token = content.substr(pos, end - pos);
        while (!token.empty() && IsWhiteSpace(static_cast<unsigned char>(token.front())))
            token.remove_prefix(1);
        while (!token.empty() && IsWhiteSpace(static_cast<unsigned char>(token.back())))
            token.remove_suffix(1);
        if (EqualsNoCase(token, "nofollow") || EqualsNoCase(token, "none"))
            m_bPageNoFollow = true;
        pos = end + 1;
    }
}

void CMirrorJob::HandleLink(std::string& link, int kind) {
    // An empty value names the page itself, and so does one that begins with "#":
    // both stay as found. A query alone ("?page=2") is a URL like any other.
    if (link.empty() || link[0] == '#') {
        return;
    }
    std::uint32_t id = CVisitedSet::kNone;
    // Most links of a page were decided before, as written.
    if (const auto cached = CachedLinkText(link, kind, id)) {
        link.assign(*cached);
        NoteLocalLink(id);
        return;
    }
    // A control byte makes a link no browser would follow: it stays as found.
    if (HasControlByte(link)) {
        return;
    }
    auto& cache = CacheFor(kind);
    // The fragment is set aside and put back on the text written.
    std::string suffix;
    if (const std::size_t hash = link.find('#'); hash != std::string::npos) {
        suffix.assign(link, hash, std::string::npos);
        link.resize(hash);
    }
    // Keeps the text decided for the link without its fragment, and for the link as
    // written, then puts the fragment back.
    auto keep = [&](const std::string& key, std::uint32_t tag) {
        cache.Put(key, link, tag);
        if (!suffix.empty()) {
            const std::string written = key + suffix;
            link += suffix;
            cache.Put(written, link, tag);
        }
    };
    if (!suffix.empty()) {
        if (const auto cached = CachedLinkText(link, kind, id)) {
            const std::string key = link;
            link.assign(*cached);
            keep(key, id);
            NoteLocalLink(id);
            return;
        }
    }
    // The cache key, kept while the link is decided.
    const std::string key = link;
    const UriRef ref = ParseUriRef(link);
    const UriRef target = Resolve(CurrentPageBase(), ref);

    LinkFacts facts;
    facts.hyperlink = kind == kHyperlink || kind == kNofollowLink || kind == kMetadataLink;
    facts.metadata = kind == kMetadataLink;
    facts.replaced = kind == kReplacedObject;
    const bool onSiteHost = IsSiteUrl(target);
    const bool fetchable = IsFetchableUrl(target);
    const ScopeVerdict verdict =
        fetchable ? m_scope.Decide(target, facts.hyperlink, onSiteHost) : ScopeVerdict::Offsite;
    facts.excluded = verdict == ScopeVerdict::Excluded;
    facts.onSite = verdict == ScopeVerdict::Offsite || facts.excluded ? onSiteHost : true;
    facts.refused = verdict == ScopeVerdict::Refused;
    facts.outside = verdict == ScopeVerdict::OutsideFolder;
    facts.nofollow = m_limits.m_bObeyRobots && (kind == kNofollowLink || m_bPageNoFollow);
    facts.offsite = !facts.onSite && m_limits.m_bOffsiteEmbedded && fetchable;
    if (!facts.onSite && (!facts.offsite || facts.hyperlink || facts.excluded)) {
        // A network-path link elsewhere would name a file on the local disk.
        if (ref.hasAuthority && !ref.hasScheme) {
            link.insert(0, "http:");
        }
        keep(key, CVisitedSet::kNone);
        return;
    }
    // A host that a "follow" pattern brings into the site keeps its own folder.
    const bool ownTree = facts.onSite && onSiteHost;
    const std::string url = ownTree ? SiteUrlText(target) : OffsiteUrlText(target);
    facts.cgi = IsCgiLink(target.path);
    const LocalName base = ownTree ? BaseLocalName(target) : OffsiteLocalName(target);
    id = m_mapVisited.Find(base);
    facts.visited = id != CVisitedSet::kNone;
    facts.failed = facts.visited && m_mapVisited.Failed(id);
    facts.levelLeft = m_nLevel < m_limits.m_nMaxLevels;

    // Once followed a link stays local; a live link may become local on a later page
    // (when its target gets queued), so only a CGI link's live text is kept. A query
    // alone leads elsewhere from each page of a folder: it is decided on every page.
    bool cacheable = key[0] != '?';
    const LinkAction action = DecideLink(facts);
    if (action == LinkAction::Live && !facts.visited) {
        NoteLinkLeft(facts, url);
        if (m_bRecording && (facts.refused || facts.excluded) &&
            m_keptOutRecorded.insert(url).second) {
            m_changes.Add(UrlKeptOut{url, facts.refused ? UrlState::Refused : UrlState::Excluded});
        }
    }
    switch (action) {
        case LinkAction::Keep:
            break;
        case LinkAction::Follow:
            id = EnqueueUrl(url, kind, base,
                            TypedLocalName(base, PredictFileType(base, facts.hyperlink)));
            [[fallthrough]];
        case LinkAction::Local:
            // Copy only writes the page as sent; the text is of no use then.
            if (m_limits.m_bModifyLinks) {
                link = LocalLinkText(link, ref, m_mapVisited.Name(id));
                NoteLocalLink(id);
            }
            break;
        case LinkAction::Live:
            link = url;
            cacheable = cacheable && (facts.cgi || facts.failed || facts.excluded || facts.refused);
            id = CVisitedSet::kNone;
            break;
    }
    if (cacheable) {
        keep(key, id);
    } else {
        link += suffix;
    }
}

}  // namespace tandril
