#pragma once

#include <cstdint>
#include <string>

namespace tandril {

// How far a run is: reported after each file.
struct RunProgress {
    std::uint32_t filesDone = 0;   // files done (saved, unchanged or given up), the copy's
    std::uint32_t filesKnown = 0;  // those and the files queued, never above maxFiles
    std::uint32_t maxFiles = 0;    // the file limit
    std::uint64_t bytes = 0;       // bytes saved (the copy's, when it was continued)
    std::uint32_t failures = 0;    // files that could not be fetched
    std::uint32_t queued = 0;      // URLs waiting (the current one included)
};

// What the worker reports through during a run: the progress dialog implements it
// in the GUI, the headless runner by printing, tests by recording.
//
// The worker thread calls every operation, and expects each to return at once: an
// implementation that shows a window queues the call for the window's thread (see
// CProgressQueue), in order. After a Cancel, no call may add a line.
class CProgressLog {
public:
    virtual ~CProgressLog() = default;

    // Appends a line to the log.
    virtual void AddLogLine(const std::string& text) = 0;
    // True while the window exists: false once the run was cancelled or aborted.
    virtual bool IsWindowAlive() = 0;
    // Ends the window as a Cancel would, without the Cancel handling (the worker
    // is ending by itself after a failure it has reported).
    virtual void AbortRun() = 0;

    // The run's progress after a file; what shows it throttles as it likes.
    virtual void Progress(const RunProgress&) {}
    // A URL the run could not fetch, or may not (robots.txt), with why, in words.
    virtual void Failure(const std::string& /*url*/, const std::string& /*reason*/) {}

    // Loads message `id` and appends it; a missing message adds no line.
    void AddLog(unsigned id);
    // Loads message `id`, puts `arg` in place of its %s and appends it.
    void AddLogArg(unsigned id, const std::string& arg);
    // Sets the button to string 1001, "OK"; a missing string keeps the button's text.
    void SetButtonOk();

protected:
    virtual void SetButtonText(const std::string& text) = 0;
};

}  // namespace tandril
