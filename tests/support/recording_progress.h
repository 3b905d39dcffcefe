#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "engine/progress.h"

namespace tandril::test {

// A progress log that records what the worker reports. Thread-safe; Close() makes it
// behave like a closed window (no more lines, not alive).
class CRecordingProgress : public CProgressLog {
public:
    void AddLogLine(const std::string& text) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_closed)
            m_lines.push_back(text);
    }
    bool IsWindowAlive() override {
        std::lock_guard<std::mutex> lock(m_mutex);
        return !m_closed;
    }
    void AbortRun() override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_aborted = true;
        m_closed = true;
    }
    void Close() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_closed = true;
    }
    std::vector<std::string> Lines() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_lines;
    }
    std::string Button() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_button;
    }
    bool Aborted() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_aborted;
    }

protected:
    void SetButtonText(const std::string& text) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_closed)
            m_button = text;
    }

private:
    std::mutex m_mutex;
    std::vector<std::string> m_lines;
    std::string m_button = "Cancel";
    bool m_closed = false;
    bool m_aborted = false;
};

}  // namespace tandril::test
