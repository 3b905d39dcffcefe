#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>

namespace tandril {

constexpr unsigned kMsgQuit = 18;

// A per-thread message queue: any thread may Post; the owning thread blocks in Get.
// Messages carry only their number (both parameters of the original protocol are 0).
class CMessageQueue {
public:
    void Post(unsigned message);
    // Blocks until a message arrives and returns it. Once kMsgQuit has been posted,
    // Get returns kMsgQuit at once, ahead of anything still queued.
    unsigned Get();

private:
    std::mutex m_mutex;
    std::condition_variable m_ready;
    std::deque<unsigned> m_messages;
    bool m_quit = false;
};

// Lets the calling thread run only on time no other thread of the machine wants (Linux's
// SCHED_IDLE): a thread at that policy gives way at once to any thread that wakes. There
// is no way back for a program without privileges. False when the system refuses.
bool RunOnlyWhenIdle();

}  // namespace tandril
