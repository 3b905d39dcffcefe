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

// Sets a run up as the main dialog does and runs it to its end on a real worker.
inline RunResult MirrorSite(CMirrorJob& job, const std::string& url, const std::string& dir,
                            std::chrono::seconds timeout = std::chrono::seconds(30)) {
    RunResult result;
    job.m_strTargetDir = dir;
    EXPECT_TRUE(job.CheckTargetDirectory());
    job.m_strUrl = url;
    EXPECT_TRUE(job.Start(job.m_strUrl));
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
