#pragma once

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "engine/progress.h"

namespace tandril {

// One thing the worker reported, in the order it was reported.
struct ProgressItem {
    enum class Kind {
        Line,     // append `text` to the log
        Button,   // set the button's text to `text`
        Abort,    // the run ended itself after a reported failure: close as Cancel does
        Failure,  // a URL that could not be fetched: `text`, and why: `reason`
    };
    Kind kind;
    std::string text;
    std::string reason;
};

// The worker's progress, carried to the thread that owns the window without making
// the worker wait for it: each call is queued and returns at once. The owner of the
// window takes the calls in order and applies them.
//
// Threads: the worker calls the CProgressLog operations. `wake` is called on the
// worker's thread when a call is queued and no wake is outstanding; it must only
// schedule a drain on the owner's thread. The owner calls Take() until it returns
// nothing (it may give its event loop a turn in between: no wake comes while calls
// are still to be taken), and Close() on Cancel.
//
// Memory: the worker waits only when kMaxItems calls or kMaxBytes of text are
// queued, until the owner has taken them or closed the queue.
class CProgressQueue : public CProgressLog {
public:
    static constexpr std::size_t kMaxItems = 20000;
    static constexpr std::size_t kMaxBytes = 16u << 20;

    explicit CProgressQueue(std::function<void()> wake);

    // CProgressLog, on the worker's thread.
    void AddLogLine(const std::string& text) override;
    bool IsWindowAlive() override;
    // Queues an Abort after what is queued; later calls are dropped.
    void AbortRun() override;
    // Keeps the latest progress (not queued: the window reads it when it likes).
    void Progress(const RunProgress& progress) override;
    void Failure(const std::string& url, const std::string& reason) override;

    // The owner's thread: the latest progress; false while none was reported.
    bool LatestProgress(RunProgress& progress);

    // The owner's thread: the queued calls, oldest first. Empty when nothing waits,
    // and then the next call wakes the owner again.
    std::vector<ProgressItem> Take();
    // The owner's thread, on Cancel: drops what waits; calls made later are dropped;
    // a worker waiting for room goes on.
    void Close();

protected:
    void SetButtonText(const std::string& text) override;

private:
    void Queue(ProgressItem item);

    std::function<void()> m_wake;
    std::mutex m_mutex;
    std::condition_variable m_room;
    std::vector<ProgressItem> m_items;
    std::size_t m_bytes = 0;
    bool m_bWakeOutstanding = false;
    bool m_bClosed = false;  // Cancel: nothing more is kept
    bool m_bEnding = false;  // AbortRun: what is queued is still taken
    RunProgress m_progress;  // guarded by m_mutex
    bool m_bProgress = false;
};

}  // namespace tandril
