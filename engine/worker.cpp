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

const char* RunEndName(RunEnd end) {
    switch (end) {
        case RunEnd::Running:
            return "running";
        case RunEnd::Done:
            return "done";
        case RunEnd::Limit:
            return "limit";
        case RunEnd::Failure:
            return "failure";
        case RunEnd::Stalled:
            return "stalled";
        case RunEnd::Cancelled:
            break;
    }
    return "cancelled";
}

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
    // The worker is gone: what it handed over is written now, before the directory is free.
    EndRecord(false);
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
    CMirrorLimits& limits = m_job.m_limits;
    limits.m_nFiles = 0;
    limits.m_nMegaBytes = 0;
    limits.m_nByteRest = 0;
    limits.m_nKiloRest = 0;
    if (m_job.m_bKeepRecord && !OpenRecord()) {
        return false;
    }
    if (m_bNothingLeft) {
        // A copy stopped after its last file: it is done.
        return EndDone();
    }
    if (!CheckLimits(m_job.m_limits, m_log)) {
        // A continued copy that has its files already.
        EndRecord(false);
        SetEnd(RunEnd::Limit);
        return false;
    }
    if (m_job.m_scope.obeyRobots && !FetchRobotsFor(m_job.m_strUrl)) {
        return false;
    }
    if (!Gone()) {
        Post(WM_MIRROR_CONNECT);
    }
    return true;
}

bool CMirrorRun::OpenRecord() {
    const std::string& dir = m_job.m_strTargetDir;
    CCopyRecord::Opened opened = m_record.Open(dir, m_job.m_strStartUrl, m_job.m_bFreshStart);
    bool restored = false;
    if (opened == CCopyRecord::Opened::Continue) {
        RecordedCopy copy;
        CopySettings settings;
        if (!m_record.LoadSettings(settings) || !m_record.Load(copy)) {
            opened = CCopyRecord::Opened::Damaged;
        } else if (copy.urls.empty() || copy.urls[0].state != UrlState::Fetched) {
            // Not even the start page was saved: nothing to continue from.
            opened = m_record.Open(dir, m_job.m_strStartUrl, true);
        } else {
            m_job.TakeCopySettings(settings);
            const std::size_t fetched = static_cast<std::size_t>(
                std::count_if(copy.urls.begin(), copy.urls.end(),
                              [](const RecordedUrl& u) { return u.state == UrlState::Fetched; }));
            const bool update = m_record.IsUpdate();
            if (update && !m_record.LoadPrevious(m_job.m_previous)) {
                opened = CCopyRecord::Opened::Damaged;
            } else if (!m_job.RestoreCopy(std::move(copy))) {
                opened = CCopyRecord::Opened::Damaged;
            } else {
                m_bNothingLeft = !m_job.NextUrl();
                m_job.m_bUpdating = update;
                m_bStartUrl = false;
                restored = true;
                m_log.AddLogArg(kIdsContinuing, std::to_string(fetched) + " files saved before, " +
                                                    std::to_string(m_job.m_listQueue.size() +
                                                                   (m_bNothingLeft ? 0 : 1)) +
                                                    " to go");
            }
        }
    } else if (opened == CCopyRecord::Opened::Update) {
        CopySettings settings;
        if (!m_record.LoadSettings(settings) || !m_record.LoadPrevious(m_job.m_previous)) {
            opened = CCopyRecord::Opened::Damaged;
        } else {
            m_job.TakeCopySettings(settings);
            m_job.m_bUpdating = true;
            m_log.AddLogArg(kIdsUpdating,
                            std::to_string(m_job.m_previous.size()) + " files to check");
        }
    }
    unsigned problem = 0;
    std::string arg = dir;
    switch (opened) {
        case CCopyRecord::Opened::OtherStartUrl:
            problem = kIdsRecordOtherUrl;
            arg = m_record.Error();
            break;
        case CCopyRecord::Opened::Damaged:
            problem = kIdsRecordDamaged;
            break;
        case CCopyRecord::Opened::Newer:
            problem = kIdsRecordNewer;
            break;
        case CCopyRecord::Opened::CannotCreate:
            // The copy is made all the same, without a record (the disk may be full:
            // the run says so when it writes).
            m_log.AddLogArg(kIdsRecordCannotCreate, dir);
            return true;
        default:
            break;
    }
    if (problem != 0) {
        m_record.End(false);
        ShowMessage(problem, arg);
        if (!Gone()) {
            AbortRun();
        }
        return false;
    }
    if (!restored) {
        m_job.StartRecording();
    } else {
        m_job.m_bRecording = true;
    }
    if (!m_record.Begin(m_job.CurrentCopySettings(), m_job.CurrentTallies())) {
        m_job.m_bRecording = false;
        m_record.End(false);
        m_log.AddLogArg(kIdsRecordCannotCreate, dir);
        return true;
    }
    m_bRecordOpen = true;
    return true;
}

void CMirrorRun::HandChanges() {
    if (m_bRecordOpen) {
        m_record.Hand(m_job.Changes(), m_job.CurrentTallies());
    }
}

void CMirrorRun::EndRecord(bool finished) {
    if (!m_bRecordOpen) {
        return;
    }
    m_bRecordOpen = false;
    m_job.m_bRecording = false;
    if (!m_record.End(finished) && !Gone()) {
        m_log.AddLogArg(kIdsRecordWriteFailed, m_record.Error());
    }
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
                m_log.Failure(m_job.m_strUrl, "refused by robots.txt");
            }
            m_job.TakeFailure(true, check == CMirrorJob::FetchCheck::Refused ? UrlState::Refused
                                                                             : UrlState::Excluded);
            return NextFile();
        }
    }
    m_log.AddLogArg(kIdsConnecting, m_job.m_strUrl);
    m_pSession->StartTransfers();
    if (!m_pSession->WaitForHeaders()) {
        if (Gone()) {
            return false;
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
        return SkipFailedFile(UrlState::Failed, m_pSession->Current().error);
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
    if (got.fileRefused) {
        // Nowhere to put the download: treated as a failed write, the run stalls.
        ShowMessage(kIdsCannotCreateFile, m_pSession->CurrentFileName());
        m_pSession->DropCurrent();
        SetEnd(RunEnd::Stalled);
        return true;
    }
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
        return SkipFailedFile(UrlState::Failed, got.error.empty() ? "broken transfer" : got.error);
    }
    const std::string status = "HTTP " + std::to_string(got.status);
    const PreviousFile* previous = m_job.PreviousOf(m_job.m_strUrl);
    if (got.status == 304 && previous != nullptr) {
        return TakeUnchangedFile();
    }
    if ((got.status == 404 || got.status == 410) && previous != nullptr) {
        // A file of the copy the site no longer has: the copy keeps it.
        m_log.AddLogArg(kIdsGone, m_job.m_strUrl);
        return SkipFailedFile(UrlState::Gone, status);
    }
    if (got.status >= 400 || got.status == 304) {
        // An error page is no copy of the file: nothing is placed or scanned. Nor is a
        // 304 to a request that carried no validators.
        m_log.AddLogArg(kIdsCannotDownload, m_job.m_strUrl + " (" + status + ")");
        return SkipFailedFile(UrlState::Failed, status);
    }
    const std::string contentType = got.contentType;
    m_answer = CMirrorJob::Answer{got.status, got.etag, got.lastModified, got.contentType};
    m_job.m_pass.m_nDownloadBytes = got.bytes;
    if (!m_pSession->TakeDownload()) {
        ShowMessage(kIdsCannotCreateFile, CMirrorJob::kTempFileName);
        SetEnd(RunEnd::Stalled);
        return true;
    }
    // The server's type decides how the file is read and the name it is saved under.
    const FileType type = m_job.TakeFileType(contentType);
    if (m_job.PrepareLocalDirectory(m_log)) {
        if (type != FileType::Other) {
            m_job.m_pass.m_bScanCss = type == FileType::Stylesheet;
            Post(WM_MIRROR_PROCESS);
            m_log.AddLogArg(kIdsProcessingFile, m_job.m_strFileName);
            return true;
        }
        m_job.PlaceDownload(m_log);
        if (m_job.m_pass.m_bSaved) {
            m_job.RecordSaved(m_answer, false);
        }
    }
    return NextFile();
}

bool CMirrorRun::TakeUnchangedFile() {
    const PreviousFile previous = *m_job.PreviousOf(m_job.m_strUrl);
    const TransferOutcome& got = m_pSession->Current();
    const CMirrorJob::Answer answer{got.status, got.etag, got.lastModified, got.contentType};
    m_pSession->DropCurrent();
    m_job.TakeUnchanged(previous, answer);
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
    if (m_job.m_pass.m_bOutputRefused) {
        // Reported: without the page's output file no page can be saved.
        SetEnd(RunEnd::Stalled);
        return true;
    }
    if (!m_job.m_limits.m_bModifyLinks) {
        m_job.PlaceDownload(m_log);
    }
    if (m_job.m_pass.m_bSaved) {
        m_job.RecordSaved(m_answer, true);
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

bool CMirrorRun::SkipFailedFile(UrlState state, const std::string& reason) {
    m_pSession->DropCurrent();
    if (state == UrlState::Failed) {
        m_nFailures += 1;
        m_log.Failure(m_job.m_strUrl, reason);
    }
    m_job.TakeFailure(false, state, reason);
    return NextFile();
}

bool CMirrorRun::NextFile() {
    // Pages that linked to the file under a name its type changed lead to it again. The
    // journal learns each one's new size before it is replaced, so that a kill at any
    // moment leaves a page the record describes.
    m_job.FixLinks(m_log, [this](std::uint32_t id, std::uint64_t size) {
        if (m_bRecordOpen)
            m_record.NoteReplacing(id, size);
    });
    m_job.FlushNotes(m_log);
    HandChanges();
    ReportProgress();
    if (!CheckLimits(m_job.m_limits, m_log)) {
        EndRecord(false);
        SetEnd(RunEnd::Limit);
        return false;
    }
    if (m_job.NextUrl()) {
        Post(WM_MIRROR_CONNECT);
        return true;
    }
    return EndDone();
}

void CMirrorRun::ReportProgress() {
    const CMirrorLimits& l = m_job.m_limits;
    RunProgress p;
    p.filesDone = l.m_nFiles;
    p.maxFiles = l.m_nMaxFiles;
    p.queued = static_cast<std::uint32_t>(m_job.m_listQueue.size());
    p.filesKnown = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(std::uint64_t{p.filesDone} + p.queued, l.m_nMaxFiles));
    p.bytes = l.m_nMegaBytes * 1048576ull + l.m_nKiloRest * 1024ull + l.m_nByteRest;
    p.failures = m_nFailures;
    m_log.Progress(p);
}

bool CMirrorRun::EndDone() {
    if (const std::string summary = m_job.NofollowSummary(); !summary.empty()) {
        m_log.AddLogLine(summary);
    }
    if (m_job.m_bUpdating) {
        const CopyTallies& c = m_job.m_counts;
        m_log.AddLogArg(kIdsUpdated, std::to_string(c.unchanged) + " unchanged, " +
                                         std::to_string(c.changed) + " changed, " +
                                         std::to_string(c.added) + " new, " +
                                         std::to_string(c.gone) + " gone, " +
                                         std::to_string(c.failed) + " failed");
    }
    EndRecord(true);
    m_log.AddLog(kIdsDone);
    m_log.SetButtonOk();
    SetEnd(RunEnd::Done);
    return true;
}

}  // namespace tandril
