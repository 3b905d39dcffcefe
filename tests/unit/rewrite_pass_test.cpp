#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <functional>

#include "engine/mirror_job.h"
#include "platform/fs.h"
#include "tests/support/test_support.h"

namespace tandril {
namespace {

using test::ReadFile;
using test::WriteFile;

class RewritePass : public ::testing::Test {
protected:
    void SetUp() override {
        job.m_strTargetDir = tmp.Path();
        std::string url = "http://example.com/docs/page.html";
        ASSERT_TRUE(job.Start(url));
        job.m_strLocalDir = "docs/";
        ASSERT_TRUE(IsDirectory(tmp.Path()) && CreateDirectoryLevel(tmp.Path() + "docs"));
        job.m_pfnLinkHook = [this](std::string& value, int kind) {
            calls.emplace_back(value, kind);
            value = "<" + value + ">";
        };
    }
    // Runs the pass to its end; returns the number of steps.
    int RunPass() {
        int steps = 1;
        while (job.ProcessHtmlChunk() != 0)
            ++steps;
        return steps;
    }
    std::string Final() const { return tmp.Path() + "docs/page.html"; }

    test::CTempDir tmp;
    CMirrorJob job;
    std::vector<std::pair<std::string, int>> calls;
};

TEST_F(RewritePass, EmptyPage) {
    WriteFile(job.TempFilePath(), "");
    EXPECT_EQ(RunPass(), 1);
    EXPECT_TRUE(test::FileExists(Final()));
    EXPECT_EQ(ReadFile(Final()), "");
    EXPECT_TRUE(job.m_limits.m_bFirstPage);
    EXPECT_FALSE(test::FileExists(job.PageTempFilePath()));
}

TEST_F(RewritePass, StepsFollowTheChunks) {
    struct Case {
        std::size_t size;
        int steps;
    } cases[] = {{1, 2}, {4095, 2}, {4096, 2}, {4097, 3}, {8192, 3}, {8193, 4}};
    for (const auto& c : cases) {
        std::string page(c.size, 'p');
        if (c.size > 20)
            page.replace(c.size - 20, 17, "<a href=\"y.html\">");
        WriteFile(job.TempFilePath(), page);
        calls.clear();
        EXPECT_EQ(RunPass(), c.steps) << c.size;
        std::string expected = page;
        if (c.size > 20)
            expected.replace(c.size - 20 + 9, 6, "<y.html>");
        EXPECT_EQ(ReadFile(Final()), expected) << c.size;
        EXPECT_EQ(calls.size(), c.size > 20 ? 1u : 0u);
    }
}

// The output file is made at the first rewritten link, with the page's bytes before it;
// a page with nothing rewritten is the download itself, moved into place.
TEST_F(RewritePass, OutputStartsAtTheFirstRewrittenLink) {
    job.m_pfnLinkHook = [this](std::string& value, int kind) {
        calls.emplace_back(value, kind);
        if (value.rfind("new", 0) == 0)
            value = "<" + value + ">";
    };
    const std::string filler(70000, 'f');
    struct Case {
        const char* what;
        std::string page, expected;
        bool rewritten;
    } cases[] = {
        {"nothing rewritten", "<a href=a.html>" + filler + "<img src=b.gif>",
         "<a href=a.html>" + filler + "<img src=b.gif>", false},
        {"nothing rewritten, entities kept", "<a href=\"a&amp;b.html\">&lt;",
         "<a href=\"a&amp;b.html\">&lt;", false},
        {"first link rewritten", "<a href=new.html>" + filler, "<a href=<new.html&#62;>" + filler,
         true},
        {"a rewrite after many chunks", filler + "<a href=a.html>" + filler + "<a href=\"new\">x",
         filler + "<a href=a.html>" + filler + "<a href=\"<new>\">x", true},
        {"a rewrite in the last tag, cut at its end", filler + "<img src=new.gif",
         filler + "<img src=new.gif", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        DeleteFile(Final());
        WriteFile(job.TempFilePath(), c.page);
        job.ResetScan();
        RunPass();
        const std::string saved = ReadFile(Final());
        const auto diff =
            std::mismatch(saved.begin(), saved.end(), c.expected.begin(), c.expected.end());
        EXPECT_TRUE(saved == c.expected) << "differs at byte " << (diff.first - saved.begin())
                                         << ": " << saved.substr(diff.first - saved.begin(), 30);
        EXPECT_FALSE(test::FileExists(job.PageTempFilePath()));
        // A rewritten page leaves the download for the next one; an unchanged page is it.
        EXPECT_EQ(test::FileExists(job.TempFilePath()), c.rewritten);
    }
}

TEST_F(RewritePass, FirstPageIsRecorded) {
    WriteFile(job.TempFilePath(), "<html>");
    RunPass();
    EXPECT_FALSE(job.m_limits.m_bFirstPage);
    EXPECT_EQ(job.m_limits.m_strStartPage, Final());
    job.m_strFileName = "other.html";
    WriteFile(job.TempFilePath(), "<html>");
    RunPass();
    EXPECT_EQ(job.m_limits.m_strStartPage, Final());  // only the first page counts
}

TEST_F(RewritePass, CopyOnlyWritesNothingAndStillFindsLinks) {
    job.m_limits.m_bModifyLinks = false;
    WriteFile(Final(), "older copy");
    WriteFile(job.TempFilePath(), "<a href=x.html><img src=y.gif>");
    RunPass();
    EXPECT_EQ(ReadFile(Final()), "older copy");  // PlaceDownload moves it later
    EXPECT_EQ(ReadFile(job.TempFilePath()), "<a href=x.html><img src=y.gif>");
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1], std::make_pair(std::string("y.gif"), 1));
    EXPECT_FALSE(test::FileExists(job.PageTempFilePath()));
}

TEST_F(RewritePass, ExistingFinalFileIsReplaced) {
    WriteFile(Final(), std::string(10000, 'o'));
    WriteFile(job.TempFilePath(), "<a href=a>");
    RunPass();
    EXPECT_EQ(ReadFile(Final()), "<a href=<a&#62;>");   // a ">" cannot stand unquoted
    EXPECT_TRUE(test::FileExists(job.TempFilePath()));  // left for the next download
}

TEST_F(RewritePass, UnreadableTemporaryFileKeepsTheOlderCopy) {
    test::CMessageRecorder boxes;
    WriteFile(Final(), "older copy");
    EXPECT_EQ(RunPass(), 1);  // no temporary file at all
    ASSERT_EQ(boxes.Texts().size(), 1u);
    EXPECT_EQ(boxes.Texts()[0], "Cannot read from " + job.TempFilePath() + "!");
    EXPECT_EQ(ReadFile(Final()), "older copy");
    EXPECT_FALSE(test::FileExists(job.PageTempFilePath()));
    EXPECT_EQ(job.m_pass.m_pInFile, nullptr);
    EXPECT_EQ(job.m_pass.m_pOutFile, nullptr);
}

// The same pass with its download directory on a small file system that fills up:
// mounting one needs root, so these are skipped elsewhere.
class RewritePassOnASmallDisk : public RewritePass {
protected:
    void SetUp() override {
        if (geteuid() != 0 ||
            mount("tmpfs", tmp.Path().c_str(), "tmpfs", 0, "size=256k,mode=0700") != 0) {
            GTEST_SKIP() << "cannot mount a small tmpfs here";
        }
        mounted = true;
        RewritePass::SetUp();
    }
    void TearDown() override {
        if (mounted)
            umount2(tmp.Path().c_str(), MNT_DETACH);
    }
    // Fills what is left of the file system.
    void FillUp() {
        std::string block(4096, 'f');
        FILE* f = std::fopen((tmp.Path() + "filler").c_str(), "wb");
        ASSERT_NE(f, nullptr);
        while (std::fwrite(block.data(), 1, block.size(), f) == block.size() &&
               std::fflush(f) == 0) {
        }
        std::fclose(f);
    }
    bool mounted = false;
};

TEST_F(RewritePassOnASmallDisk, WriteFailureKeepsTheOlderCopyAndTheNextPageWorks) {
    test::CMessageRecorder boxes;
    WriteFile(Final(), "older copy");
    std::string page = "<a href=early.html>" + std::string(200000, 't');
    WriteFile(job.TempFilePath(), page);
    const int allSteps = static_cast<int>(page.size() / CMirrorJob::kBufferSize) + 2;
    EXPECT_LT(RunPass(), allSteps / 2);  // the pass ends in the middle of the page
    ASSERT_EQ(boxes.Texts().size(), 1u);
    EXPECT_EQ(boxes.Texts()[0], "The disk is full.");
    EXPECT_EQ(ReadFile(Final()), "older copy");
    EXPECT_FALSE(test::FileExists(job.PageTempFilePath()));
    EXPECT_EQ(job.m_limits.m_strStartPage, Final());  // recorded before the failure

    job.m_strFileName = "next.html";
    job.ResetScan();
    WriteFile(job.TempFilePath(), "<img src=n.gif>");
    RunPass();
    EXPECT_EQ(ReadFile(tmp.Path() + "docs/next.html"), "<img src=<n.gif&#62;>");
    EXPECT_EQ(boxes.Texts().size(), 1u);
}

TEST_F(RewritePassOnASmallDisk, FailureOnTheLastFlushIsReportedOnce) {
    test::CMessageRecorder boxes;
    WriteFile(Final(), "older copy");
    WriteFile(job.TempFilePath(), "<a href=small.html>");
    FillUp();
    EXPECT_EQ(RunPass(), 2);  // the page is read whole; its output fails when closed
    ASSERT_EQ(boxes.Texts().size(), 1u);
    EXPECT_EQ(boxes.Texts()[0], "The disk is full.");
    EXPECT_EQ(ReadFile(Final()), "older copy");
    EXPECT_FALSE(test::FileExists(job.PageTempFilePath()));
}

// Whatever stands at the temporary names is replaced, never followed or opened.
TEST_F(RewritePass, TemporaryNamesAreNeverFollowed) {
    const std::string outside = tmp.Path() + "outside.txt";
    WriteFile(outside, "precious");
    struct Case {
        const char* what;
        std::function<void(const std::string&)> make;
    } cases[] = {
        {"a symbolic link",
         [&](const std::string& p) { ASSERT_EQ(symlink(outside.c_str(), p.c_str()), 0); }},
        {"a FIFO", [](const std::string& p) { ASSERT_EQ(mkfifo(p.c_str(), 0600), 0); }},
        {"an empty directory", [](const std::string& p) { ASSERT_TRUE(CreateDirectoryLevel(p)); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        DeleteFile(job.PageTempFilePath());
        c.make(job.PageTempFilePath());
        WriteFile(job.TempFilePath(), "<a href=x>");
        job.ResetScan();
        RunPass();
        EXPECT_EQ(ReadFile(Final()), "<a href=<x\u0026#62;>");
        EXPECT_EQ(ReadFile(outside), "precious");
    }
    // The download's own temporary file read back through a link or a FIFO: refused.
    test::CMessageRecorder boxes;
    DeleteFile(job.TempFilePath());
    ASSERT_EQ(mkfifo(job.TempFilePath().c_str(), 0600), 0);
    EXPECT_EQ(RunPass(), 1);  // returns at once instead of blocking on the FIFO
    ASSERT_EQ(boxes.Texts().size(), 1u);
    EXPECT_EQ(boxes.Texts()[0], "Cannot read from " + job.TempFilePath() + "!");
}

TEST_F(RewritePass, UncreatableOutputIsReported) {
    test::CMessageRecorder boxes;
    ASSERT_TRUE(CreateDirectoryLevel(job.PageTempFilePath()));  // a full directory in the way
    WriteFile(job.PageTempFilePath() + "/inside", "x");
    WriteFile(job.TempFilePath(), "<a href=x>");
    EXPECT_EQ(RunPass(), 1);
    ASSERT_EQ(boxes.Texts().size(), 1u);
    // Named as a transfer's own file is: the file that is in the way.
    EXPECT_EQ(boxes.Texts()[0], std::string("Cannot create file ") + CMirrorJob::kPageTempFileName + "!");
    EXPECT_TRUE(job.m_pass.m_bOutputRefused);  // the run stalls
    EXPECT_EQ(calls.size(), 1u);  // the output is made when the first link is rewritten
    EXPECT_FALSE(test::FileExists(Final()));
}

}  // namespace
}  // namespace tandril
