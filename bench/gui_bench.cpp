// The desktop program's progress dialog against the headless path on the same run:
// 2,000 small pages from a loopback server, mirrored with the "Mirroring..." dialog
// and with a silent log, alternately, three times each. Prints the median times,
// their ratio and the longest time the interface thread was kept from its events.
//
//   gui-bench [PAGES [DIR [RUNNER]]]  (QT_QPA_PLATFORM=offscreen works; so does a display)
//
// With RUNNER (the path of mirror-bench), the headless runner's own process is timed
// on the same run as well.
//
// The mirrors go below DIR (default /dev/shm, a memory file system), so that the
// file system's own costs, which vary from run to run, do not hide the dialog's.

#include <QApplication>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "engine/mirror_job.h"
#include "engine/mirroring_dlg.h"
#include "engine/progress.h"
#include "engine/worker.h"
#include "platform/message.h"
#include "tests/support/http_server.h"
#include "tests/support/test_support.h"

using namespace tandril;
using Clock = std::chrono::steady_clock;

namespace {

class CSilentProgress : public CProgressLog {
public:
    void AddLogLine(const std::string&) override { ++m_lines; }
    bool IsWindowAlive() override { return true; }
    void AbortRun() override {}

protected:
    void SetButtonText(const std::string&) override {}

private:
    std::size_t m_lines = 0;
};

void Prepare(CMirrorJob& job, const std::string& url, const std::string& dir) {
    job.m_limits.m_nMaxLevels = 1;
    job.m_limits.m_nMaxFiles = 100000;
    job.m_limits.m_nMaxMegaBytes = 2048;
    job.m_strTargetDir = dir;
    job.CheckTargetDirectory();
    job.m_strUrl = url;
    job.Start(job.m_strUrl);
    job.m_limits.m_bFirstPage = true;
}

double Headless(const std::string& url, const std::string& dir) {
    CMirrorJob job;
    Prepare(job, url, dir);
    CSilentProgress log;
    auto start = Clock::now();
    CMirrorRun run(job, log);
    run.Start();
    run.WaitForEnd(std::chrono::minutes(10));
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    run.Cancel();
    return seconds;
}

double WithDialog(const std::string& url, const std::string& dir, qint64& stallMs, int& lines) {
    CMirrorJob job;
    Prepare(job, url, dir);
    CMirroringDlg dlg(job, nullptr);
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (dlg.ButtonText() == "OK") {
            poll.stop();
            dlg.findChild<QPushButton*>("m_btnCancel")->click();
        }
    });
    poll.start(1);
    auto start = Clock::now();
    dlg.exec();
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    stallMs = dlg.LongestStallMs();
    lines = static_cast<int>(dlg.LogLines().size());
    return seconds;
}

// Runs the headless runner on the same site; its log goes to /dev/null.
double Runner(const std::string& runner, const std::string& url, const std::string& dir) {
    std::vector<std::string> args = {runner,    "--url",   url,     "--dir", dir, "--levels",
                                     "1",       "--files", "100000", "--mb", "2048"};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    auto start = Clock::now();
    pid_t pid = 0;
    if (posix_spawn(&pid, runner.c_str(), &actions, nullptr, argv.data(), environ) != 0) {
        std::fprintf(stderr, "cannot start %s\n", runner.c_str());
        std::exit(2);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    posix_spawn_file_actions_destroy(&actions);
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const int pages = argc > 1 ? std::atoi(argv[1]) : 2000;
    const std::string base = argc > 2 ? argv[2] : "/dev/shm";
    const std::string runner = argc > 3 ? argv[3] : "";
    SetMessageBoxHook([](const std::string&, const std::string& text, MessageIcon) {
        std::fprintf(stderr, "message: %s\n", text.c_str());
    });

    test::CHttpServer server;
    std::string index = "<html><body><ul>\n";
    const std::string filler(1500, 'x');
    for (int i = 0; i < pages; ++i) {
        index += "<li><a href=\"pages/p" + std::to_string(i) + ".html\">" + std::to_string(i) +
                 "</a></li>\n";
        server.SetPage("/pages/p" + std::to_string(i) + ".html",
                       "<html><body><p>" + filler + "</p><a href=\"p" +
                           std::to_string((i + 1) % pages) +
                           ".html\">next</a> <a href=\"../index.html\">index</a></body></html>");
    }
    server.SetPage("/index.html", index + "</ul></body></html>");
    const std::string url = server.Root() + "/index.html";

    std::vector<double> headless, dialog, process;
    qint64 worstStall = 0;
    int lines = 0;
    for (int round = 0; round < 3; ++round) {
        const std::string a = base + "/tandril-gui-bench-a/", b = base + "/tandril-gui-bench-b/";
        std::filesystem::remove_all(a);
        std::filesystem::remove_all(b);
        // The two take turns at going first: a file system is slower right after
        // many files have been deleted.
        qint64 stall = 0;
        if (round % 2 == 0) {
            headless.push_back(Headless(url, a));
            dialog.push_back(WithDialog(url, b, stall, lines));
        } else {
            dialog.push_back(WithDialog(url, b, stall, lines));
            headless.push_back(Headless(url, a));
        }
        std::filesystem::remove_all(a);
        std::filesystem::remove_all(b);
        worstStall = std::max(worstStall, stall);
        if (!runner.empty()) {
            process.push_back(Runner(runner, url, a));
            std::filesystem::remove_all(a);
        }
    }
    std::printf("pages: %d, log lines in the dialog: %d\n", pages + 1, lines);
    for (int round = 0; round < 3; ++round) {
        std::printf("round %d: headless %.3f s, dialog %.3f s\n", round + 1, headless[round],
                    dialog[round]);
    }
    std::printf("headless (median of 3): %.3f s\n", Median(headless));
    std::printf("dialog   (median of 3): %.3f s\n", Median(dialog));
    std::printf("dialog / headless: %.2f\n", Median(dialog) / Median(headless));
    if (!process.empty()) {
        std::printf("mirror-bench process (median of 3): %.3f s; dialog / mirror-bench: %.2f\n",
                    Median(process), Median(dialog) / Median(process));
    }
    std::printf("longest interface-thread stall: %lld ms\n", static_cast<long long>(worstStall));
    return 0;
}
