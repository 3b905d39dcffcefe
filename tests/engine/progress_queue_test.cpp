// The hand-off of the worker's progress to the window's thread: the worker never
// waits for the window, and the window still gets every call, in order.
#include "engine/progress_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/mirror_job.h"
#include "engine/worker.h"
#include "tests/engine/run_helper.h"
#include "tests/support/http_server.h"
#include "tests/support/test_support.h"

namespace tandril {
namespace {

using Kind = ProgressItem::Kind;

// Stands in for the interface thread: sleeps until woken, then takes and applies the
// queued calls. It can be held, so that the worker runs with nobody draining.
class CWindowThread {
public:
    CWindowThread() : m_queue([this] { Wake(); }), m_thread([this] { Loop(); }) {}
    ~CWindowThread() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_bQuit = true;
        }
        m_changed.notify_all();
        m_thread.join();
    }

    CProgressQueue& Queue() { return m_queue; }
    void Hold(bool held) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_bHeld = held;
        }
        m_changed.notify_all();
    }
    // Waits until the window has applied everything queued so far (or an Abort).
    void WaitDrained() {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait_for(lock, std::chrono::seconds(20),
                           [this] { return !m_bWoken && !m_bDraining; });
    }
    std::vector<std::string> Lines() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_lines;
    }
    std::string Button() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_button;
    }
    int Wakes() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_nWakes;
    }
    bool Aborted() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_bAborted;
    }

private:
    void Wake() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_bWoken = true;
            ++m_nWakes;
        }
        m_changed.notify_all();
    }
    void Loop() {
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            m_changed.wait(lock, [this] { return m_bQuit || (m_bWoken && !m_bHeld); });
            if (m_bQuit)
                return;
            m_bWoken = false;
            m_bDraining = true;
            lock.unlock();
            // Applied in small turns, as an event loop would.
            for (std::vector<ProgressItem> items; !(items = m_queue.Take()).empty();) {
                std::lock_guard<std::mutex> apply(m_mutex);
                for (ProgressItem& item : items) {
                    if (item.kind == Kind::Line)
                        m_lines.push_back(std::move(item.text));
                    else if (item.kind == Kind::Button)
                        m_button = std::move(item.text);
                    else
                        m_bAborted = true;
                }
            }
            lock.lock();
            m_bDraining = false;
            m_changed.notify_all();
        }
    }

    CProgressQueue m_queue;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_bWoken = false, m_bDraining = false, m_bHeld = false, m_bQuit = false;
    bool m_bAborted = false;
    int m_nWakes = 0;
    std::vector<std::string> m_lines;
    std::string m_button = "Cancel";
    std::thread m_thread;
};

void MakeSite(test::CHttpServer& server, int pages) {
    std::string index;
    for (int i = 0; i < pages; ++i) {
        index += "<a href=\"p" + std::to_string(i) + ".html\">p</a>";
        server.SetPage("/p" + std::to_string(i) + ".html",
                       "<img src=\"i" + std::to_string(i % 7) + ".png\">");
    }
    for (int i = 0; i < 7; ++i)
        server.SetFile("/i" + std::to_string(i) + ".png", std::string(100, 'i'), "image/png");
    server.SetPage("/index.html", index);
}

void SetLimits(CMirrorJob& job) {
    job.m_limits.m_nMaxLevels = 2;
    job.m_limits.m_nMaxFiles = 10000;
    job.m_limits.m_nMaxMegaBytes = 100;
}

// A whole run while the window takes nothing: the worker ends by itself, and the
// window then shows exactly the log of a run reported straight to a recorder.
TEST(ProgressQueue, WorkerNeverWaitsAndTheWindowGetsEveryLineInOrder) {
    test::CHttpServer server;
    MakeSite(server, 300);
    test::CTempDir dir;
    CMirrorJob recorded;
    SetLimits(recorded);
    const test::RunResult expected =
        test::MirrorSite(recorded, server.Root() + "/index.html", dir.Path());
    ASSERT_GT(expected.lines.size(), 600u);

    for (bool held : {true, false}) {
        SCOPED_TRACE(held ? "window held until the run ended" : "window draining");
        test::CTempDir copy;
        CMirrorJob job;
        SetLimits(job);
        test::PrepareRun(job, server.Root() + "/index.html", copy.Path());
        CWindowThread window;
        window.Hold(held);
        CMirrorRun run(job, window.Queue());
        ASSERT_TRUE(run.Start());
        EXPECT_EQ(run.WaitForEnd(std::chrono::seconds(60)), RunEnd::Done);
        if (held) {
            EXPECT_TRUE(window.Lines().empty());
        }
        window.Hold(false);
        window.WaitDrained();
        EXPECT_EQ(window.Lines(), expected.lines);
        EXPECT_EQ(window.Button(), expected.button);
        // One wake per batch, not one per line.
        EXPECT_LT(window.Wakes(), static_cast<int>(expected.lines.size()));
        window.Queue().Close();
        run.Cancel();
    }
}

// A window far behind holds the worker at the bound; Close releases it, and nothing
// reported after the Close is kept.
TEST(ProgressQueue, BoundedWhileTheWindowIsBehindAndClosedOnCancel) {
    const std::size_t total = CProgressQueue::kMaxItems + 500;
    for (bool closeWhileFull : {false, true}) {
        SCOPED_TRACE(closeWhileFull ? "closed while full" : "drained while full");
        CWindowThread window;
        window.Hold(true);
        std::atomic<std::size_t> reported{0};
        std::thread worker([&] {
            for (std::size_t i = 0; i < total; ++i) {
                window.Queue().AddLogLine("line " + std::to_string(i));
                reported.store(i + 1);
            }
        });
        for (int i = 0; i < 2000 && reported.load() < CProgressQueue::kMaxItems; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_EQ(reported.load(), CProgressQueue::kMaxItems);  // held at the bound
        if (closeWhileFull)
            window.Queue().Close();
        window.Hold(false);
        worker.join();
        window.WaitDrained();
        const std::vector<std::string> lines = window.Lines();
        if (closeWhileFull) {
            EXPECT_TRUE(lines.empty());
            EXPECT_FALSE(window.Queue().IsWindowAlive());
        } else {
            ASSERT_EQ(lines.size(), total);
            for (std::size_t i = 0; i < total; i += 997)
                EXPECT_EQ(lines[i], "line " + std::to_string(i));
        }
    }
}

// A run that ends itself after a reported failure: what it reported first is still
// shown, then the window closes; nothing after is kept.
TEST(ProgressQueue, AbortComesAfterWhatWasReportedBefore) {
    CWindowThread window;
    CProgressQueue& queue = window.Queue();
    queue.AddLogLine("Connecting to x");
    queue.SetButtonOk();
    EXPECT_TRUE(queue.IsWindowAlive());
    queue.AbortRun();
    EXPECT_FALSE(queue.IsWindowAlive());
    queue.AddLogLine("too late");
    window.WaitDrained();
    EXPECT_EQ(window.Lines(), std::vector<std::string>{"Connecting to x"});
    EXPECT_EQ(window.Button(), "OK");
    EXPECT_TRUE(window.Aborted());
}

}  // namespace
}  // namespace tandril
