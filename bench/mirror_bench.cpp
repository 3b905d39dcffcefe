// mirror-bench: one whole mirroring run without a window, through the same engine,
// worker thread and message protocol as the desktop program. For benchmarks and
// black-box checks.
//
//   mirror-bench --url URL --dir DIR [--levels N] [--files N] [--mb N] [--copy-only]
//                [--relative-links] [--ca-file FILE] [--connections N] [--fresh]
//                [--no-record]
//
// A directory that holds the record of a copy of the same URL continues that copy
// (when it is unfinished) or updates it (when it is finished); --fresh starts anew, and
// --no-record keeps no record of the copy.
//
// Log lines and message-box texts go to stderr in order (each as it happens on a
// terminal, in blocks otherwise); one JSON object goes to stdout at the end. SIGINT or
// SIGTERM is the Cancel button.

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "engine/messages.h"
#include "engine/mirror_job.h"
#include "engine/placement.h"
#include "engine/progress.h"
#include "engine/worker.h"
#include "platform/heap.h"
#include "platform/json_text.h"

using namespace tandril;

namespace {

// Prints the log; the run's window is "alive" until the run is cancelled or aborted.
class CStderrProgress : public CProgressLog {
public:
    void AddLogLine(const std::string& text) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_closed) {
            std::fprintf(stderr, "%s\n", text.c_str());
        }
    }
    bool IsWindowAlive() override {
        std::lock_guard<std::mutex> lock(m_mutex);
        return !m_closed;
    }
    void AbortRun() override { Close(); }
    void Close() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_closed = true;
    }

protected:
    void SetButtonText(const std::string&) override {}

private:
    std::mutex m_mutex;
    bool m_closed = false;
};

bool ParseNumber(const char* text, std::uint32_t& value) {
    char* end = nullptr;
    unsigned long long v = std::strtoull(text, &end, 10);
    if (end == text || *end != '\0' || v > 0xFFFFFFFFull || text[0] == '-') {
        return false;
    }
    value = static_cast<std::uint32_t>(v);
    return true;
}

int Usage() {
    std::fprintf(
        stderr,
        "usage: mirror-bench --url URL --dir DIR [--levels N] [--files N] [--mb N] "
        "[--copy-only] [--relative-links] [--no-offsite-embedded] [--cookies FILE] "
        "[--no-robots] [--no-parent] [--exclude PATTERN]... [--include PATTERN]... [--pause MS] "
        "[--ca-file FILE] [--connections N] [--fresh] [--no-record]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    RetainFreedHeapMemory();
    // A log read later (a file, a pipe) is written in blocks: a write per line would
    // cost a run of small files a tenth of its time.
    if (!isatty(STDERR_FILENO))
        std::setvbuf(stderr, nullptr, _IOFBF, 1 << 16);
    CMirrorJob job;
    job.m_limits.m_nMaxLevels = 1;
    std::string url, dir;
    bool haveUrl = false, haveDir = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        bool hasValue = i + 1 < argc;
        if (arg == "--fresh") {
            job.m_bFreshStart = true;
        } else if (arg == "--no-record") {
            job.m_bKeepRecord = false;
        } else if (arg == "--copy-only") {
            job.m_limits.m_bModifyLinks = false;
        } else if (arg == "--relative-links") {
            job.m_limits.m_bRelativeLinks = true;
        } else if (arg == "--no-offsite-embedded") {
            job.m_limits.m_bOffsiteEmbedded = false;
        } else if (arg == "--cookies" && hasValue) {
            job.m_limits.m_strCookiesFile = argv[++i];
        } else if (arg == "--pause" && hasValue) {
            if (!ParseNumber(argv[++i], job.m_limits.m_nPauseMs) || job.m_limits.m_nPauseMs > 60000)
                return Usage();
        } else if (arg == "--no-robots") {
            job.m_limits.m_bObeyRobots = false;
        } else if (arg == "--no-parent") {
            job.m_limits.m_bNoParent = true;
        } else if (arg == "--exclude" && hasValue) {
            job.m_limits.m_skipPatterns.push_back(argv[++i]);
        } else if (arg == "--include" && hasValue) {
            job.m_limits.m_followPatterns.push_back(argv[++i]);
        } else if (arg == "--connections" && hasValue) {
            if (!ParseNumber(argv[++i], job.m_limits.m_nMaxConnections) ||
                job.m_limits.m_nMaxConnections < 1 || job.m_limits.m_nMaxConnections > 16)
                return Usage();
        } else if (arg == "--ca-file" && hasValue) {
            job.m_netOptions.caFile = argv[++i];
        } else if (arg == "--url" && hasValue) {
            url = argv[++i];
            haveUrl = true;
        } else if (arg == "--dir" && hasValue) {
            dir = argv[++i];
            haveDir = true;
        } else if (arg == "--levels" && hasValue) {
            if (!ParseNumber(argv[++i], job.m_limits.m_nMaxLevels))
                return Usage();
        } else if (arg == "--files" && hasValue) {
            if (!ParseNumber(argv[++i], job.m_limits.m_nMaxFiles))
                return Usage();
        } else if (arg == "--mb" && hasValue) {
            if (!ParseNumber(argv[++i], job.m_limits.m_nMaxMegaBytes))
                return Usage();
        } else {
            return Usage();
        }
    }
    if (!haveUrl || !haveDir) {
        return Usage();
    }

    // Signals are taken by one thread with sigwait, so every other thread blocks them.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    job.m_strTargetDir = dir;
    if (!job.CheckTargetDirectory()) {
        return 2;
    }
    if (url.empty()) {
        ShowFrameworkMessage(kIdsEnterUrl);
        return 2;
    }
    job.m_strUrl = url;
    if (!job.Start(job.m_strUrl)) {
        ShowFrameworkMessage(kIdsUrlInvalid);
        return 2;
    }
    if (!job.CheckPatterns() || !job.LoadCookies()) {
        return 2;
    }
    job.m_limits.m_bFirstPage = true;
    job.m_limits.m_strStartPage.clear();

    std::atomic<bool> signalled{false};
    std::thread([&signals, &signalled] {
        int sig = 0;
        sigwait(&signals, &sig);
        signalled.store(true);
    }).detach();

    CStderrProgress progress;
    auto started = std::chrono::steady_clock::now();
    RunEnd end = RunEnd::Running;
    {
        CMirrorRun run(job, progress);
        if (!run.Start()) {
            ShowFrameworkMessage(kIdsCannotCreateThread);
            return 2;
        }
        for (;;) {
            end = run.WaitForEnd(std::chrono::milliseconds(20));
            if (end != RunEnd::Running || signalled.load()) {
                break;
            }
        }
        progress.Close();
        run.Cancel();
        end = run.End();
    }
    DeleteTemporaryFiles(job.m_strTargetDir);
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const CMirrorLimits& l = job.m_limits;
    unsigned long long bytes =
        l.m_nMegaBytes * 1048576ull + l.m_nKiloRest * 1024ull + l.m_nByteRest;
    std::printf(
        "{\"end\": \"%s\", \"files\": %u, \"bytes\": %llu, \"seconds\": %.3f, "
        "\"start_page\": %s}\n",
        RunEndName(end), l.m_nFiles, bytes, seconds, JsonString(l.m_strStartPage).c_str());
    return 0;
}
