#include "engine/progress_queue.h"

#include <utility>

namespace tandril {

CProgressQueue::CProgressQueue(std::function<void()> wake) : m_wake(std::move(wake)) {}

void CProgressQueue::AddLogLine(const std::string& text) {
    Queue({ProgressItem::Kind::Line, text, {}});
}

void CProgressQueue::SetButtonText(const std::string& text) {
    Queue({ProgressItem::Kind::Button, text, {}});
}

void CProgressQueue::AbortRun() {
    Queue({ProgressItem::Kind::Abort, {}, {}});
}

void CProgressQueue::Progress(const RunProgress& progress) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_progress = progress;
    m_bProgress = true;
}

void CProgressQueue::Failure(const std::string& url, const std::string& reason) {
    Queue({ProgressItem::Kind::Failure, url, reason});
}

bool CProgressQueue::LatestProgress(RunProgress& progress) {
    std::lock_guard<std::mutex> lock(m_mutex);
    progress = m_progress;
    return m_bProgress;
}

bool CProgressQueue::IsWindowAlive() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return !m_bClosed && !m_bEnding;
}

void CProgressQueue::Queue(ProgressItem item) {
    bool wake = false;
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        // A window far behind holds the worker back rather than letting the queue grow.
        m_room.wait(lock, [this] {
            return m_bClosed || (m_items.size() < kMaxItems && m_bytes < kMaxBytes);
        });
        if (m_bClosed || m_bEnding)
            return;
        m_bytes += item.text.size() + item.reason.size();
        m_bEnding = item.kind == ProgressItem::Kind::Abort;
        m_items.push_back(std::move(item));
        wake = !m_bWakeOutstanding;
        m_bWakeOutstanding = true;
    }
    // Outside the lock: a wake that drains at once must not deadlock.
    if (wake && m_wake)
        m_wake();
}

std::vector<ProgressItem> CProgressQueue::Take() {
    std::vector<ProgressItem> items;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        items.swap(m_items);
        m_bytes = 0;
        if (items.empty())
            m_bWakeOutstanding = false;
    }
    m_room.notify_all();
    return items;
}

void CProgressQueue::Close() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bClosed = true;
        m_items.clear();
        m_bytes = 0;
    }
    m_room.notify_all();
}

}  // namespace tandril
