// tandril-cli: copies a web site into a local directory from a terminal, a script or a
// cron job, through the same engine as the desktop program. It reads and writes none of
// the desktop program's settings.

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "cli/cli_options.h"
#include "cli/terminal_progress.h"
#include "engine/messages.h"
#include "engine/mirror_job.h"
#include "engine/placement.h"
#include "engine/worker.h"
#include "platform/fs.h"
#include "platform/heap.h"
#include "platform/json_text.h"
#include "platform/message.h"

using namespace tandril;

namespace {

// Exit statuses.
constexpr int kExitDone = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitLimit = 3;
constexpr int kExitFilesFailed = 4;

int BadUsage(const std::string& reason) {
    std::fprintf(stderr, "tandril-cli: %s\nTry 'tandril-cli --help' for more.\n", reason.c_str());
    return kExitUsage;
}

// The first words of the last line.
const char* EndWords(RunEnd end, bool interrupted) {
    if (interrupted)
        return "Interrupted";
    switch (end) {
        case RunEnd::Done:
            return "Done";
        case RunEnd::Limit:
            return "Stopped at a limit";
        case RunEnd::Failure:
            return "Failed";
        case RunEnd::Stalled:
            return "Stalled";
        default:
            return "Cancelled";
    }
}

}  // namespace

int main(int argc, char** argv) {
    RetainFreedHeapMemory();
    CliOptions options;
    std::string error;
    switch (ParseCliArguments(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
        case CliCommand::Help:
            std::fputs(CliHelpText().c_str(), stdout);
            return kExitDone;
        case CliCommand::Version:
            std::printf("tandril-cli %s\n", TANDRIL_VERSION);
            return kExitDone;
        case CliCommand::BadUsage:
            return BadUsage(error);
        case CliCommand::Run:
            break;
    }

    // Signals are taken by one thread with sigwait, so every other thread blocks them.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    CMirrorJob job;
    job.m_limits = options.limits;
    job.m_bFreshStart = options.fresh;
    job.m_netOptions.caFile = options.caFile;
    std::string dir = options.dir;
    if (dir.empty()) {
        dir = DefaultCopyDirectory(options.url, WorkingDirectory());
        if (dir.empty())
            return BadUsage("no folder can be named after \"" + options.url + "\"; give DIR");
    }
    // A bad URL is bad usage, said before the directory is made.
    job.m_strUrl = options.url;
    if (!job.Start(job.m_strUrl)) {
        std::string text;
        LoadMessage(kIdsUrlInvalid, text);
        return BadUsage(text + " (" + options.url + ")");
    }
    job.m_strTargetDir = dir;
    if (!job.CheckTargetDirectory()) {
        return kExitFailed;
    }
    if (!job.CheckPatterns() || !job.LoadCookies()) {
        return kExitUsage;
    }
    job.m_limits.m_bFirstPage = true;
    job.m_limits.m_strStartPage.clear();

    std::atomic<int> signalled{0};
    std::thread([&signals, &signalled] {
        int sig = 0;
        sigwait(&signals, &sig);
        signalled.store(sig);
    }).detach();

    CTerminalProgress progress(stderr, isatty(STDERR_FILENO) == 1, options.verbose, options.quiet);
    const auto started = std::chrono::steady_clock::now();
    RunEnd end = RunEnd::Running;
    {
        CMirrorRun run(job, progress);
        if (!run.Start()) {
            ShowFrameworkMessage(kIdsCannotCreateThread);
            return kExitFailed;
        }
        for (;;) {
            end = run.WaitForEnd(std::chrono::milliseconds(20));
            if (end != RunEnd::Running || signalled.load() != 0) {
                break;
            }
        }
        progress.Close();
        run.Cancel();
        end = run.End();
    }
    DeleteTemporaryFiles(job.m_strTargetDir);
    progress.Finish();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const CMirrorLimits& l = job.m_limits;
    const unsigned long long bytes =
        l.m_nMegaBytes * 1048576ull + l.m_nKiloRest * 1024ull + l.m_nByteRest;
    const auto failures = progress.Failures();
    std::size_t failed = 0;
    for (const auto& f : failures)
        failed += f.second != "refused by robots.txt" ? 1 : 0;

    if (!options.quiet) {
        std::fprintf(stderr, "%s: %u files, %.1f MB in %.1f s, %zu failed. The copy is in %s\n",
                     EndWords(end, signalled.load() != 0), l.m_nFiles,
                     static_cast<double>(bytes) / 1048576.0, seconds, failed,
                     job.m_strTargetDir.c_str());
        if (!l.m_strStartPage.empty())
            std::fprintf(stderr, "Start page: %s\n", l.m_strStartPage.c_str());
    }
    if (options.json) {
        std::string list;
        for (const auto& [url, reason] : failures) {
            list += list.empty() ? "" : ", ";
            list += "{\"url\": " + JsonString(url) + ", \"reason\": " + JsonString(reason) + "}";
        }
        std::printf(
            "{\"end\": \"%s\", \"url\": %s, \"dir\": %s, \"files\": %u, \"bytes\": %llu, "
            "\"seconds\": %.3f, \"failed\": %zu, \"failures\": [%s], \"start_page\": %s}\n",
            signalled.load() != 0 ? "cancelled" : RunEndName(end),
            JsonString(job.m_strStartUrl).c_str(), JsonString(job.m_strTargetDir).c_str(),
            l.m_nFiles, bytes, seconds, failed, list.c_str(), JsonString(l.m_strStartPage).c_str());
    }
    if (signalled.load() != 0)
        return 128 + signalled.load();
    switch (end) {
        case RunEnd::Done:
            return failed > 0 ? kExitFilesFailed : kExitDone;
        case RunEnd::Limit:
            return kExitLimit;
        default:
            return kExitFailed;
    }
}
