#include "engine/worker.h"

#include <algorithm>
#include <cstdio>
#include <new>
#include <system_error>

#include "engine/messages.h"
#include "engine/mirror_job.h"
#include "engine/placement.h"
#include "engine/progress.h"
#include "platform/message.h"

namespace tandril {

namespace {

// "2 s", "0.5 s".
std::string FormatSeconds(std::uint32_t ms) {
    std::string text = std::to_string(ms / 1000);
    if (ms % 1000 != 0) {
        char tenths[8];
        std::snprintf(tenths, sizeof(tenths), ".%03u", ms % 1000);
        std::string fraction = tenths;
        while (fraction.back() == '0')
            fraction.pop_back();
        text += fraction;
    }
    return text + " s";
}

}  // namespace

CMirrorRun::CMirrorRun(CMirrorJob& job, CProgressLog& log) : m_job(job), m_log(log) {}

CMirrorRun::~CMirrorRun() {
    Cancel();
}

bool CMirrorRun::Start() {
    try {
        m_pThread = std::thread(&CMirrorRun::MirrorThreadProc, this);
    } catch (const std::system_error&) {
        return false;
    }
    m_queue.Post(WM_MIRROR_START);
    return true;
}

void CMirrorRun::Cancel() {
    m_bCancelled.store(true);
    {
        std::lock_guard<std::mutex> lock(m_sessionMutex);
        if (m_pSession) {
            m_pSession->Interrupt();
        }
    }
    m_queue.Post(kMsgQuit);
    if (m_pThread.joinable()) {
        m_pThread.join();
    }
    CloseAndFreeSession();
    m_dirLock.Release();
    if (m_end.load() == RunEnd::Running) {
        SetEnd(RunEnd::Cancelled);
    }
}

RunEnd CMirrorRun::WaitForEnd(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(m_endMutex);
    m_endChanged.wait_for(lock, timeout, [this] { return m_end.load() != RunEnd::Running; });
    return m_end.load();
}

void CMirrorRun::SetEnd(RunEnd end) {
    {
        std::lock_guard<std::mutex> lock(m_endMutex);
        m_end.store(end);
    }
    m_endChanged.notify_all();
}

void CMirrorRun::MirrorThreadProc() {
    for (;;) {
        unsigned message = m_queue.Get();
        if (message == kMsgQuit || !Step(message)) {
            return;
        }
    }
}

bool CMirrorRun::Step(unsigned message) {
    switch (message) {
        case WM_MIRROR_START:
            return OnStart();
        case WM_MIRROR_CONNECT:
            return OnConnect();
        case WM_MIRROR_READ:
            return OnRead();
        case WM_MIRROR_PROCESS:
            return OnProcess();
        default:
            return true;
    }
}

bool CMirrorRun::Gone() {
    return m_bCancelled.load() || !m_log.IsWindowAlive();
}

void CMirrorRun::CloseAndFreeSession() {
    std::unique_ptr<CMirrorSession> session;
    {
        std::lock_guard<std::mutex> lock(m_sessionMutex);
        session = std::move(m_pSession);
    }
    if (session) {
        session->CloseSession();
    }
}

void CMirrorRun::Post(unsigned message) {
    if (!m_bCancelled.load()) {
        m_queue.Post(message);
    }
}

void CMirrorRun::AbortRun() {
    CloseAndFreeSession();
    SetEnd(RunEnd::Failure);
    m_log.AbortRun();
}

bool CMirrorRun::OnStart() {
    if (Gone()) {
        return false;
    }
    // Two runs in one directory would overwrite each other's temporary files.
    if (!m_dirLock.Acquire(m_job.m_strTargetDir)) {
        ShowMessage(kIdsDirectoryInUse, m_job.m_strTargetDir);
        if (!Gone()) {
            AbortRun();
        }
        return false;
    }
    try {
        auto session = std::make_unique<CMirrorSession>(m_job);
        std::lock_guard<std::mutex> lock(m_sessionMutex);
        m_pSession = std::move(session);
    } catch (const std::bad_alloc&) {
        ShowFrameworkMessage(kIdsNoMemory);
        AbortRun();
        return false;
    }
    m_log.AddLog(kIdsOpeningSession);
    if (!m_pSession->OpenSession()) {
        if (!Gone()) {
            AbortRun();
        }
        return false;
    }
    if (m_job.m_scope.obeyRobots && !FetchRobotsFor(m_job.m_strUrl)) {
        return false;
    }
    CMirrorLimits& limits = m_job.m_limits;
    limits.m_nFiles = 0;
    limits.m_nMegaBytes = 0;
    limits.m_nByteRest = 0;
    limits.m_nKiloRest = 0;
    if (!Gone()) {
        Post(WM_MIRROR_CONNECT);
    }
    return true;
}

bool CMirrorRun::OnConnect() {
    if (Gone() || !m_pSession) {
        return false;
    }
    // Only the start URL's failure ends the run; any later one is logged and skipped.
    const bool startUrl = m_bStartUrl;
    m_bStartUrl = false;
    CMirrorJob::FetchCheck check = m_job.CheckUrl(m_job.m_strUrl);
    if (check == CMirrorJob::FetchCheck::NeedRobots) {
        if (!FetchRobotsFor(m_job.m_strUrl)) {
            return false;
        }
        check = m_job.CheckUrl(m_job.m_strUrl);
    }
    if (check != CMirrorJob::FetchCheck::Fetch) {
        // The user asked for the start URL by name: it is fetched all the same.
        if (startUrl) {
            if (check == CMirrorJob::FetchCheck::Refused) {
                m_log.AddLogArg(kIdsRobotsStartUrl, m_job.m_strUrl);
            }
        } else {
            if (check == CMirrorJob::FetchCheck::Refused) {
                m_log.AddLogArg(kIdsRobotsRefused, m_job.m_strUrl);
            }
            m_job.TakeFailure(true);
            m_job.FixLinks(m_log);
            return NextFile();
        }
    }
    m_log.AddLogArg(kIdsConnecting, m_job.m_strUrl);
    m_pSession->StartTransfers();
    if (!m_pSession->WaitForHeaders()) {
        if (Gone()) {
            return false;
        }
        const TransferOutcome& failed = m_pSession->Current();
        if (!failed.fileCreated) {
            // Nowhere to put the download: treated as a failed write, the run stalls.
            ShowMessage(kIdsCannotCreateFile, m_pSession->CurrentFileName());
            m_job.m_limits.m_nFiles += 1;
            SetEnd(RunEnd::Stalled);
            return true;
        }
        if (startUrl) {
            ShowMessageBox(ProgramTitle(), m_pSession->ConnectFailure(m_job.m_strUrl),
                           MessageIcon::Information);
            if (!Gone()) {
                AbortRun();
            }
            return false;
        }
        m_log.AddLogLine(m_pSession->ConnectFailure(m_job.m_strUrl));
        m_job.m_limits.m_nFiles += 1;
        return SkipFailedFile();
    }
    // Links are resolved against where the content came from; a start URL that
    // redirects elsewhere brings the host it ends on into the site.
    m_job.m_strBaseUrl = m_pSession->Current().finalUrl;
    if (startUrl) {
        m_job.AddSiteHost(m_job.m_strBaseUrl);
    }
    m_log.AddLogArg(kIdsReading, m_job.m_strUrl);
    Post(WM_MIRROR_READ);
    return true;
}

bool CMirrorRun::OnRead() {
    if (Gone() || !m_pSession) {
        return false;
    }
    // A step waits a moment at most, so that a quit message is seen between steps.
    if (!m_pSession->WaitForEnd()) {
        Post(WM_MIRROR_READ);
        return true;
    }
    if (Gone()) {
        return false;
    }
    const TransferOutcome& got = m_pSession->Current();
    for (std::uint64_t left = got.bytes; left > 0;) {
        const std::uint32_t part =
            static_cast<std::uint32_t>(left < (1u << 30) ? left : (1u << 30));
        m_job.m_limits.CountBytes(part);
        left -= part;
    }
    m_job.m_limits.m_nFiles += 1;
    if (got.fileCause >= 0) {
        // The file may lack its end: the run stalls, as for any failed write.
        ReportFileError(got.fileCause);
        m_pSession->DropCurrent();
        SetEnd(RunEnd::Stalled);
        return true;
    }
    if (!got.complete) {
        // A broken transfer is never taken for a whole file: an older copy stays.
        m_log.AddLogArg(kIdsCannotRead, m_job.m_strUrl);
        return SkipFailedFile();
    }
    if (got.status >= 400) {
        // An error page is no copy of the file: nothing is placed or scanned.
        m_log.AddLogArg(kIdsCannotDownload,
                        m_job.m_strUrl + " (HTTP " + std::to_string(got.status) + ")");
        return SkipFailedFile();
    }
    const std::string contentType = got.contentType;
    if (!m_pSession->TakeDownload()) {
        ShowMessage(kIdsCannotCreateFile, CMirrorJob::kTempFileName);
        SetEnd(RunEnd::Stalled);
        return true;
    }
    // The server's type decides how the file is read and the name it is saved under.
    const FileType type = m_job.TakeFileType(contentType);
    // Pages that linked to it under a name its type changed lead to it again.
    m_job.FixLinks(m_log);
    if (m_job.PrepareLocalDirectory(m_log)) {
        if (type != FileType::Other) {
            m_job.m_pass.m_bScanCss = type == FileType::Stylesheet;
            Post(WM_MIRROR_PROCESS);
            m_log.AddLogArg(kIdsProcessingFile, m_job.m_strFileName);
            return true;
        }
        m_job.PlaceDownload(m_log);
    }
    return NextFile();
}

bool CMirrorRun::OnProcess() {
    if (Gone()) {
        return false;
    }
    if (m_job.ProcessHtmlChunk() != 0) {
        Post(WM_MIRROR_PROCESS);
        return true;
    }
    if (!m_job.m_limits.m_bModifyLinks) {
        m_job.PlaceDownload(m_log);
    }
    return NextFile();
}

bool CMirrorRun::FetchRobotsFor(const std::string& url) {
    const std::string origin = CSiteScope::Origin(ParseUriRef(url));
    CRobotsRules rules;
    if (!m_pSession->FetchRobots(origin, rules)) {
        return false;
    }
    // Crawl-delay is honoured up to 30 seconds, where it asks for more than the pause.
    const std::uint32_t delay = std::min<std::uint32_t>(rules.CrawlDelayMs(), 30000);
    if (delay > m_job.m_netOptions.pauseMs) {
        m_pSession->SetHostDelay(origin, delay);
        m_log.AddLogArg(kIdsCrawlDelay, FormatSeconds(delay) + " at " + origin);
    }
    m_job.m_scope.SetRobots(origin, std::move(rules));
    return true;
}

bool CMirrorRun::SkipFailedFile() {
    m_pSession->DropCurrent();
    m_job.TakeFailure();
    m_job.FixLinks(m_log);
    return NextFile();
}

bool CMirrorRun::NextFile() {
    m_job.FlushNotes(m_log);
    if (!CheckLimits(m_job.m_limits, m_log)) {
        SetEnd(RunEnd::Limit);
        return false;
    }
    if (m_job.NextUrl()) {
        Post(WM_MIRROR_CONNECT);
        return true;
    }
    if (const std::string summary = m_job.NofollowSummary(); !summary.empty()) {
        m_log.AddLogLine(summary);
    }
    m_log.AddLog(kIdsDone);
    m_log.SetButtonOk();
    SetEnd(RunEnd::Done);
    return true;
}

}  // namespace tandril
