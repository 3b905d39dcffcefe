#include "engine/mirror_job.h"

#include "engine/messages.h"
#include "engine/progress.h"
#include "platform/cookies.h"
#include "url/uri.h"
#include "url/url_text.h"

namespace tandril {
namespace {

void Trim(std::string& text) {
    std::size_t end = text.size();
    while (end > 0 && IsWhiteSpace(static_cast<unsigned char>(text[end - 1])))
        --end;
    std::size_t begin = 0;
    while (begin < end && IsWhiteSpace(static_cast<unsigned char>(text[begin])))
        ++begin;
    text = text.substr(begin, end - begin);
}

}  // namespace

void CMirrorLimits::CountBytes(std::uint32_t n) {
    m_nByteRest += n;
    m_nKiloRest += m_nByteRest / 1024;
    m_nByteRest %= 1024;
    m_nMegaBytes += m_nKiloRest / 1024;
    m_nKiloRest %= 1024;
}

CMirrorJob::CMirrorJob() : m_pBuffer(new char[kBufferSize]) {}

CMirrorJob::~CMirrorJob() = default;

bool CMirrorJob::Start(std::string& url) {
    Trim(url);
    std::size_t schemeEnd = 0;
    if (url.size() >= 7 && EqualsNoCase(url.substr(0, 7), "HTTP://")) {
        schemeEnd = 7;
    } else if (url.size() >= 8 && EqualsNoCase(url.substr(0, 8), "HTTPS://")) {
        schemeEnd = 8;
    } else {
        return false;
    }
    std::string rest = url.substr(schemeEnd);
    std::size_t p = rest.find('/');
    std::string host = rest.substr(0, p);
    const HostPort site = SplitAuthority(host);
    if (host.empty() || site.host.empty() || !site.portValid) {
        return false;
    }

    m_strLocalDir.clear();
    m_strHost = host;
    const std::string scheme = schemeEnd == 7 ? "http" : "https";
    m_scope.hosts.Reset(
        CSiteHosts::Host{site.host, scheme, site.port != 0 ? site.port : DefaultPort(scheme)});
    m_scope.skip = m_limits.m_skipPatterns;
    m_scope.follow = m_limits.m_followPatterns;
    m_scope.obeyRobots = m_limits.m_bObeyRobots;
    m_scope.startFolder.clear();
    if (m_limits.m_bNoParent) {
        const UriRef start = ParseUriRef(url);
        m_scope.startFolder = PageDirectory(Serialize(start));
    }
    m_scope.ClearRobots();
    m_netOptions.pauseMs = m_limits.m_nPauseMs;
    m_strBaseUrl.clear();
    m_strSiteRoot = url.substr(0, schemeEnd) + host;
    if (p == std::string::npos) {
        m_strBasePath.clear();
    } else {
        std::size_t q = rest.find_last_of('/');
        if (q == rest.size() - 1) {
            m_strBasePath = rest.substr(p, q - p);
        } else if (IsDirectorySegment(rest.substr(q + 1))) {
            m_strBasePath = rest.substr(p);
        } else {
            m_strBasePath = rest.substr(p, q - p);
        }
    }

    ResetUrlState();
    m_strStartUrl = url;
    m_bRecording = false;
    m_bUpdating = false;
    m_previous.clear();
    m_counts = CopyTallies{};
    EnqueueUrl(url, kHyperlink);
    NextUrl();
    m_nLevel -= 1;
    return true;
}

bool CMirrorJob::CheckPatterns() const {
    for (const auto* patterns : {&m_limits.m_skipPatterns, &m_limits.m_followPatterns}) {
        for (const std::string& pattern : *patterns) {
            if (auto problem = PatternProblem(pattern)) {
                ShowMessage(kIdsBadPattern, "\"" + pattern + "\" (" + *problem + ")");
                return false;
            }
        }
    }
    return true;
}

CMirrorJob::FetchCheck CMirrorJob::CheckUrl(const std::string& url) const {
    const UriRef ref = ParseUriRef(url);
    switch (m_scope.Decide(ref, false)) {
        case ScopeVerdict::Excluded:
            return FetchCheck::Excluded;
        case ScopeVerdict::Refused:
            return FetchCheck::Refused;
        case ScopeVerdict::RobotsUnknown:
            return FetchCheck::NeedRobots;
        default:
            return FetchCheck::Fetch;
    }
}

void CMirrorJob::FlushNotes(CProgressLog& log) {
    for (const std::string& line : m_notes) {
        log.AddLogLine(line);
    }
    m_notes.clear();
    for (const std::string& url : m_refusedLinks) {
        log.Failure(url, "refused by robots.txt");
    }
    m_refusedLinks.clear();
}

std::string CMirrorJob::NofollowSummary() const {
    std::string text;
    if (m_nNofollowLinks > 0) {
        const std::string count = std::to_string(m_nNofollowLinks);
        LoadMessage(kIdsNofollowSummary, text, &count);
    }
    return text;
}

bool CMirrorJob::LoadCookies() {
    m_netOptions.cookies.clear();
    const std::string& path = m_limits.m_strCookiesFile;
    if (path.empty()) {
        return true;
    }
    CookiesText text;
    if (!ReadCookiesFile(path, text)) {
        if (text.badLine > 0) {
            ShowMessage(kIdsCookiesFormat, path + " (line " + std::to_string(text.badLine) + ")");
        } else {
            ShowMessage(kIdsCookiesUnreadable, path);
        }
        return false;
    }
    m_netOptions.cookies = std::move(text.cookies);
    return true;
}

bool CMirrorJob::NextUrl() {
    if (m_listQueue.empty()) {
        return false;
    }
    CQueueEntry entry = std::move(m_listQueue.front());
    m_listQueue.pop_front();
    if (entry.nLevel > m_limits.m_nMaxLevels) {
        return false;
    }
    m_strUrl = std::move(entry.strUrl);
    m_strBaseUrl.clear();
    m_strLocalDir = std::move(entry.strLocalDir);
    m_strFileName = std::move(entry.strFileName);
    m_strBaseName = std::move(entry.strBaseName);
    m_nUrlId = entry.nId;
    m_nLevel = entry.nLevel + 1;
    m_pass.m_bSaved = false;
    m_pass.m_bOutputRefused = false;
    return true;
}

bool CMirrorJob::IsInsideTargetDir(const std::string& path) const {
    if (m_strTargetDir.empty() || m_strTargetDir.back() != '/' ||
        path.compare(0, m_strTargetDir.size(), m_strTargetDir) != 0) {
        return false;
    }
    std::size_t pos = m_strTargetDir.size();
    while (pos <= path.size()) {
        std::size_t end = path.find('/', pos);
        if (end == std::string::npos)
            end = path.size();
        std::string segment = path.substr(pos, end - pos);
        if (segment == "." || segment == "..") {
            return false;
        }
        pos = end + 1;
    }
    return true;
}

bool CheckLimits(const CMirrorLimits& limits, CProgressLog& log) {
    if (limits.m_nFiles >= limits.m_nMaxFiles) {
        log.AddLog(kIdsFileLimit);
        log.SetButtonOk();
        return false;
    }
    if (limits.m_nMegaBytes >= limits.m_nMaxMegaBytes) {
        log.AddLog(kIdsMegaByteLimit);
        log.SetButtonOk();
        return false;
    }
    return true;
}

}  // namespace tandril
