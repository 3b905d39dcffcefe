#include "platform/thread.h"

#include <sched.h>

namespace tandril {

void CMessageQueue::Post(unsigned message) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (message == kMsgQuit) {
            m_quit = true;
        } else {
            m_messages.push_back(message);
        }
    }
    m_ready.notify_one();
}

unsigned CMessageQueue::Get() {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_ready.wait(lock, [this] { return m_quit || !m_messages.empty(); });
    if (m_quit) {
        return kMsgQuit;
    }
    unsigned message = m_messages.front();
    m_messages.pop_front();
    return message;
}

bool RunOnlyWhenIdle() {
    sched_param param{};
    return sched_setscheduler(0, SCHED_IDLE, &param) == 0;
}

}  // namespace tandril
