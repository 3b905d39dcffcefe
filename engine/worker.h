#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "engine/copy_record.h"
#include "engine/mirror_job.h"
#include "engine/session.h"
#include "platform/fs.h"
#include "platform/thread.h"

namespace tandril {

class CMirrorJob;
class CProgressLog;

// The steps of a run, one message each; the numbers are part of the protocol.
enum MirrorMessage : unsigned {
    WM_MIRROR_START = 1124,
    WM_MIRROR_CONNECT = 1125,
    WM_MIRROR_ABORT_FILE = 1126,
    WM_MIRROR_READ = 1127,   // the current download goes on (one short wait each)
    WM_MIRROR_WRITE = 1128,  // unused: transfers write their own files
    WM_MIRROR_PROCESS = 1144,
};

// How a run has ended so far.
enum class RunEnd { Running, Done, Limit, Failure, Stalled, Cancelled };
// How a run ended, as one word for machines ("done", "limit", "failure", "stalled",
// "cancelled"; "running" while it runs).
const char* RunEndName(RunEnd end);

// One mirroring run: the worker thread with its message queue and the run's session.
// The progress dialog (or the headless runner) owns it for the life of the window.
//
// Threads: Start and Cancel are called by the owner's thread; the worker runs every
// step and reports through `log`, which must stay valid until Cancel has returned.
class CMirrorRun {
public:
    CMirrorRun(CMirrorJob& job, CProgressLog& log);
    ~CMirrorRun();  // cancels
    CMirrorRun(const CMirrorRun&) = delete;
    CMirrorRun& operator=(const CMirrorRun&) = delete;

    // Creates the worker and posts WM_MIRROR_START to it; false when no thread
    // could be created (the caller then cancels and shows message 103).
    bool Start();
    // Stops the run: marks it cancelled, releases a blocked read, posts the quit
    // message, joins the worker, and only then closes and frees the session and
    // gives up the download directory. The
    // log must already refuse further lines (its window is closing). Idempotent.
    void Cancel();

    RunEnd End() const { return m_end.load(); }
    // Waits until the run has ended one way or another, or `timeout` has passed.
    RunEnd WaitForEnd(std::chrono::milliseconds timeout);

private:
    void MirrorThreadProc();
    bool Step(unsigned message);  // false ends the thread
    bool OnStart();
    bool OnConnect();
    bool OnRead();
    bool OnProcess();
    bool NextFile();
    // Drops the current URL, which could not be fetched, and goes on with the next;
    // the record keeps `state` and `reason` for it.
    bool SkipFailedFile(UrlState state = UrlState::Failed, const std::string& reason = {});
    // Fetches and takes the robots.txt of the host of `url`; false when cancelled.
    bool FetchRobotsFor(const std::string& url);
    // Opens the record of the copy and sets the run up from it (a first run, a
    // continued one or an update); false when the run is not to go on.
    bool OpenRecord();
    // Hands the changes of the file just done to the record.
    void HandChanges();
    // Ends the record: finished when the run is done.
    void EndRecord(bool finished);
    // The current URL answered 304 to a request with its copy's validators.
    bool TakeUnchangedFile();
    // Tells the log how far the run is.
    void ReportProgress();
    // Marks the run done: the last lines of the log, the button.
    bool EndDone();
    bool Gone();
    void Post(unsigned message);
    void AbortRun();
    // Takes the session out of reach of Cancel's Interrupt, then closes and frees it.
    void CloseAndFreeSession();
    void SetEnd(RunEnd end);

    CMirrorJob& m_job;
    CProgressLog& m_log;
    CMessageQueue m_queue;
    std::thread m_pThread;
    std::mutex m_sessionMutex;  // m_pSession's pointer, against Interrupt from Cancel
    std::unique_ptr<CMirrorSession> m_pSession;
    CDirectoryLock m_dirLock;  // the download directory, for the run's whole life
    std::atomic<bool> m_bCancelled{false};
    bool m_bStartUrl = true;  // the next URL opened is the run's first (worker thread)
    CCopyRecord m_record;     // the worker's while it runs; closed by Cancel after the join
    bool m_bRecordOpen = false;
    bool m_bNothingLeft = false;    // a continued copy had nothing left to fetch
    CMirrorJob::Answer m_answer;    // the current download's answer
    std::uint32_t m_nFailures = 0;  // files of this run that could not be fetched
    std::atomic<RunEnd> m_end{RunEnd::Running};
    std::mutex m_endMutex;
    std::condition_variable m_endChanged;
};

}  // namespace tandril
