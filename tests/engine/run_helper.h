#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "engine/mirror_job.h"
#include "engine/worker.h"
#include "tests/support/recording_progress.h"

namespace tandril::test {

struct RunResult {
    RunEnd end = RunEnd::Running;
    std::vector<std::string> lines;
    std::string button;
    bool aborted = false;
};

// Sets a run up as the main dialog does: the directory, then the start URL.
inline void PrepareRun(CMirrorJob& job, const std::string& url, const std::string& dir) {
    job.m_strTargetDir = dir;
    EXPECT_TRUE(job.CheckTargetDirectory());
    job.m_strUrl = url;
    EXPECT_TRUE(job.Start(job.m_strUrl));
}

// Closes the window and cancels the run as the dialog does; returns how long the
// Cancel took, in milliseconds.
inline long long TimedCancel(CMirrorRun& run, CRecordingProgress& log) {
    const auto start = std::chrono::steady_clock::now();
    log.Close();
    run.Cancel();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
}

// Starts a run that is to be still working after half a second (a long wait), then
// cancels it as the dialog does: the Cancel takes less than 100 ms. Returns the log.
inline std::vector<std::string> CancelAMidRunWait(CMirrorJob& job, const std::string& url,
                                                  const std::string& dir) {
    PrepareRun(job, url, dir);
    CRecordingProgress log;
    CMirrorRun run(job, log);
    EXPECT_TRUE(run.Start());
    EXPECT_EQ(run.WaitForEnd(std::chrono::milliseconds(500)), RunEnd::Running);
    EXPECT_LT(TimedCancel(run, log), 100);
    EXPECT_EQ(run.End(), RunEnd::Cancelled);
    return log.Lines();
}

// Sets a run up as the main dialog does and runs it to its end on a real worker.
inline RunResult MirrorSite(CMirrorJob& job, const std::string& url, const std::string& dir,
                            std::chrono::seconds timeout = std::chrono::seconds(30)) {
    RunResult result;
    PrepareRun(job, url, dir);
    job.m_limits.m_bFirstPage = true;
    job.m_limits.m_strStartPage.clear();
    CRecordingProgress log;
    {
        CMirrorRun run(job, log);
        EXPECT_TRUE(run.Start());
        result.end = run.WaitForEnd(timeout);
        log.Close();
        run.Cancel();
    }
    result.lines = log.Lines();
    result.button = log.Button();
    result.aborted = log.Aborted();
    return result;
}

}  // namespace tandril::test
