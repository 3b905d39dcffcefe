#pragma once

#include <string>

namespace tandril {

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
