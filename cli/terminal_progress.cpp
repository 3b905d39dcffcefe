#include "cli/terminal_progress.h"

#include <cstdio>

namespace tandril {
namespace {

std::string Megabytes(std::uint64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof(text), "%.1f MB", static_cast<double>(bytes) / 1048576.0);
    return text;
}

std::string Rate(double bytesPerSecond) {
    char text[32];
    if (bytesPerSecond >= 1048576.0)
        std::snprintf(text, sizeof(text), "%.1f MB/s", bytesPerSecond / 1048576.0);
    else
        std::snprintf(text, sizeof(text), "%.0f KB/s", bytesPerSecond / 1024.0);
    return text;
}

}  // namespace

CTerminalProgress::CTerminalProgress(std::FILE* out, bool terminal, bool verbose, bool quiet)
    : m_out(out), m_terminal(terminal), m_verbose(verbose), m_quiet(quiet) {}

std::string CTerminalProgress::Line(const RunProgress& p, double bytesPerSecond,
                                    std::size_t width) {
    const std::uint32_t known = p.filesKnown > p.filesDone ? p.filesKnown : p.filesDone;
    const double share = known > 0 ? static_cast<double>(p.filesDone) / known : 0.0;
    char numbers[96];
    std::snprintf(numbers, sizeof(numbers), " %d%%  %u/%u files  ",
                  static_cast<int>(share * 100), p.filesDone, known);
    std::string tail = numbers;
    tail += Megabytes(p.bytes);
    tail += "  ";
    tail += Rate(bytesPerSecond);
    if (p.failures > 0) {
        std::snprintf(numbers, sizeof(numbers), "  %u failed", p.failures);
        tail += numbers;
    }
    // The bar takes what the numbers leave, 10 to 30 columns.
    std::size_t bar = width > tail.size() + 12 ? width - tail.size() - 2 : 10;
    if (bar > 30)
        bar = 30;
    const auto filled = static_cast<std::size_t>(share * static_cast<double>(bar) + 0.5);
    std::string line = "[";
    line.append(filled, '#');
    line.append(bar - filled, '.');
    line += ']';
    line += tail;
    return line;
}

void CTerminalProgress::ClearLine() {
    if (m_lineShown) {
        std::fputs("\r\033[K", m_out);
        m_lineShown = false;
    }
}

double CTerminalProgress::Speed(Clock::time_point now) {
    // Over the last three seconds.
    m_samples.emplace_back(now, m_last.bytes);
    while (m_samples.size() > 2 && now - m_samples.front().first > std::chrono::seconds(3))
        m_samples.pop_front();
    const double seconds = std::chrono::duration<double>(now - m_samples.front().first).count();
    if (seconds <= 0.0)
        return 0.0;
    return static_cast<double>(m_last.bytes - m_samples.front().second) / seconds;
}

void CTerminalProgress::Draw(bool force) {
    const Clock::time_point now = Clock::now();
    const double speed = Speed(now);
    if (m_quiet || m_closed)
        return;
    const auto since = now - m_lastDraw;
    if (m_terminal) {
        if (!force && since < std::chrono::milliseconds(100))
            return;
        std::fputs("\r\033[K", m_out);
        std::fputs(Line(m_last, speed, 78).c_str(), m_out);
        m_lineShown = true;
    } else {
        if (!force && since < std::chrono::seconds(5))
            return;
        std::fputs((Line(m_last, speed, 78) + "\n").c_str(), m_out);
    }
    std::fflush(m_out);
    m_lastDraw = now;
}

void CTerminalProgress::AddLogLine(const std::string& text) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_closed || !m_verbose)
        return;
    ClearLine();
    std::fprintf(m_out, "%s\n", text.c_str());
    std::fflush(m_out);
}

bool CTerminalProgress::IsWindowAlive() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return !m_closed;
}

void CTerminalProgress::AbortRun() {
    Close();
}

void CTerminalProgress::Progress(const RunProgress& progress) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_last = progress;
    Draw(false);
}

void CTerminalProgress::Failure(const std::string& url, const std::string& reason) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_failures.emplace_back(url, reason);
    if (m_closed || m_quiet || m_verbose)  // the log says it already
        return;
    ClearLine();
    std::fprintf(m_out, "failed: %s (%s)\n", url.c_str(), reason.c_str());
    std::fflush(m_out);
}

void CTerminalProgress::Close() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_closed = true;
}

void CTerminalProgress::Finish() {
    std::lock_guard<std::mutex> lock(m_mutex);
    ClearLine();
    std::fflush(m_out);
}

RunProgress CTerminalProgress::Last() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_last;
}

std::vector<std::pair<std::string, std::string>> CTerminalProgress::Failures() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_failures;
}

}  // namespace tandril
