#pragma once

#include <chrono>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "engine/progress.h"

namespace tandril {

// The progress of a tandril-cli run, on stderr. On a terminal: one line redrawn in place
// (bar, files, megabytes, speed, failures), at most 10 times a second; otherwise a plain
// line every few seconds. Failures are printed as they come; with `verbose` the log's
// lines too; with `quiet` nothing.
//
// Threads: the worker calls the CProgressLog operations; the main thread calls Close,
// Finish and the accessors after the run. A mutex guards everything.
class CTerminalProgress : public CProgressLog {
public:
    CTerminalProgress(std::FILE* out, bool terminal, bool verbose, bool quiet);

    void AddLogLine(const std::string& text) override;
    bool IsWindowAlive() override;
    void AbortRun() override;
    void Progress(const RunProgress& progress) override;
    void Failure(const std::string& url, const std::string& reason) override;

    // No more lines: the run is being cancelled.
    void Close();
    // Clears the progress line (on a terminal).
    void Finish();
    RunProgress Last();
    std::vector<std::pair<std::string, std::string>> Failures();

    // The progress line for `p` at `bytesPerSecond`, `width` columns wide.
    static std::string Line(const RunProgress& p, double bytesPerSecond, std::size_t width);

protected:
    void SetButtonText(const std::string&) override {}

private:
    using Clock = std::chrono::steady_clock;
    void ClearLine();  // with m_mutex held
    void Draw(bool force);
    double Speed(Clock::time_point now);

    std::mutex m_mutex;
    std::FILE* m_out;
    bool m_terminal;
    bool m_verbose;
    bool m_quiet;
    bool m_closed = false;
    bool m_lineShown = false;
    RunProgress m_last;
    Clock::time_point m_lastDraw{};
    std::deque<std::pair<Clock::time_point, std::uint64_t>> m_samples;  // bytes over time
    std::vector<std::pair<std::string, std::string>> m_failures;
};

}  // namespace tandril
