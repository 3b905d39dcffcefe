#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "engine/mirror_job.h"
#include "platform/fs.h"
#include "tests/support/recording_progress.h"
#include "tests/support/test_support.h"

namespace tandril {
namespace {

using test::CMessageRecorder;
using test::CRecordingProgress;
using test::CTempDir;

TEST(CheckTargetDirectory, AcceptsCreatesAndNormalises) {
    CTempDir tmp;
    CMessageRecorder boxes;
    CMirrorJob job;
    job.m_strTargetDir = tmp.Path() + "mirror \t ";
    ASSERT_TRUE(job.CheckTargetDirectory());
    EXPECT_EQ(job.m_strTargetDir, tmp.Path() + "mirror/");
    EXPECT_TRUE(IsDirectory(tmp.Path() + "mirror"));

    job.m_strTargetDir = tmp.Path() + "mirror/";
    ASSERT_TRUE(job.CheckTargetDirectory());
    EXPECT_EQ(job.m_strTargetDir, tmp.Path() + "mirror/");
    EXPECT_TRUE(boxes.Texts().empty());

    job.m_strTargetDir = "/";
    ASSERT_TRUE(job.CheckTargetDirectory());
    EXPECT_EQ(job.m_strTargetDir, "/");
}

TEST(CheckTargetDirectory, Refusals) {
    CTempDir tmp;
    test::WriteFile(tmp.Path() + "plain", "x");
    struct Case {
        std::string dir;
        std::string message;
    } cases[] = {
        {"", "Please choose a directory for downloading."},
        {" \t ", "Please choose a directory for downloading."},
        {tmp.Path() + "missing/child", "Cannot create directory " + tmp.Path() + "missing/child!"},
        {tmp.Path() + "plain", "Cannot create directory " + tmp.Path() + "plain!"},
    };
    for (const auto& c : cases) {
        CMessageRecorder boxes;
        CMirrorJob job;
        job.m_strTargetDir = c.dir;
        EXPECT_FALSE(job.CheckTargetDirectory()) << c.dir;
        ASSERT_EQ(boxes.Texts().size(), 1u) << c.dir;
        EXPECT_EQ(boxes.Texts()[0], c.message);
        EXPECT_EQ(boxes.Titles()[0], "Tandril");
        EXPECT_FALSE(!job.m_strTargetDir.empty() && job.m_strTargetDir.back() == '/');
    }
    EXPECT_FALSE(IsDirectory(tmp.Path() + "missing"));
}

TEST(CheckTargetDirectory, HomeAndRelativeDirectoriesBecomeAbsolute) {
    CTempDir tmp;
    std::string oldHome = getenv("HOME") ? getenv("HOME") : "";
    setenv("HOME", (tmp.Path() + "home").c_str(), 1);
    std::filesystem::create_directory(tmp.Path() + "home");
    CMirrorJob job;
    job.m_strTargetDir = "~/site";
    ASSERT_TRUE(job.CheckTargetDirectory());
    EXPECT_EQ(job.m_strTargetDir, tmp.Path() + "home/site/");
    setenv("HOME", oldHome.c_str(), 1);

    auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(tmp.Path());
    job.m_strTargetDir = "rel";
    bool ok = job.CheckTargetDirectory();
    std::filesystem::current_path(cwd);
    ASSERT_TRUE(ok);
    EXPECT_EQ(job.m_strTargetDir, std::filesystem::canonical(tmp.Path()).string() + "/rel/");
}

TEST(OpticalMedia, MountTableDecidesByTheLongestMountPoint) {
    const std::string table =
        "/dev/vda / ext4 rw 0 0\n"
        "/dev/sr0 /media/ann/My\\040Disc iso9660 ro 0 0\n"
        "/dev/sr1 /mnt/dvd udf ro 0 0\n"
        "tmpfs /mnt/dvd/overlay tmpfs rw 0 0\n";
    EXPECT_EQ(OpticalMediaMountPointIn("/media/ann/My Disc/site", table),
              std::optional<std::string>("/media/ann/My Disc"));
    EXPECT_EQ(OpticalMediaMountPointIn("/mnt/dvd", table), std::optional<std::string>("/mnt/dvd"));
    EXPECT_EQ(OpticalMediaMountPointIn("/mnt/dvd/overlay/x", table), std::nullopt);
    EXPECT_EQ(OpticalMediaMountPointIn("/mnt/dvdx", table), std::nullopt);
    EXPECT_EQ(OpticalMediaMountPointIn("/home/ann", table), std::nullopt);

    // Fields split by runs of blanks or tabs; blank, short and unterminated lines.
    const std::string ragged =
        "\n  \n/dev/sr0\t /cd \t\tiso9660 ro 0 0\r\nshort /x\n"
        "/dev/sr1  /cd/inner   udf";
    EXPECT_EQ(OpticalMediaMountPointIn("/cd/a", ragged), std::optional<std::string>("/cd"));
    EXPECT_EQ(OpticalMediaMountPointIn("/cd/inner/b", ragged),
              std::optional<std::string>("/cd/inner"));
    EXPECT_EQ(OpticalMediaMountPointIn("/x/y", ragged), std::nullopt);
    EXPECT_EQ(OpticalMediaMountPointIn("/cd", ""), std::nullopt);
}

class PrepareLocalDirectory : public ::testing::Test {
protected:
    void SetUp() override {
        job.m_strTargetDir = tmp.Path();
        job.m_strFileName = "page.html";
    }
    CTempDir tmp;
    CMirrorJob job;
    CRecordingProgress log;
};

TEST_F(PrepareLocalDirectory, CreatesEveryMissingLevelAndResetsTheScanner) {
    job.m_strLocalDir = "a/b/c/";
    job.ScanBytes("<a href=\"left", 13);  // a tag left open by an earlier page
    ASSERT_GT(job.m_pass.m_scanner.HeldBytes(), 0u);
    ASSERT_TRUE(job.PrepareLocalDirectory(log));
    EXPECT_TRUE(IsDirectory(tmp.Path() + "a/b/c"));
    EXPECT_EQ(job.m_pass.m_scanner.HeldBytes(), 0u);

    job.m_strLocalDir = "a/b/c/d/";
    ASSERT_TRUE(job.PrepareLocalDirectory(log));
    EXPECT_TRUE(IsDirectory(tmp.Path() + "a/b/c/d"));

    job.m_strLocalDir = "/";
    ASSERT_TRUE(job.PrepareLocalDirectory(log));
    EXPECT_EQ(job.m_strLocalDir, "");
    EXPECT_TRUE(log.Lines().empty());
}

TEST_F(PrepareLocalDirectory, AFileInTheWayStopsTheWalk) {
    test::WriteFile(tmp.Path() + "a", "file");
    job.m_strLocalDir = "a/b/";
    EXPECT_FALSE(job.PrepareLocalDirectory(log));
    ASSERT_EQ(log.Lines().size(), 1u);
    EXPECT_EQ(log.Lines()[0], "Cannot create directory " + tmp.Path() + "a/!");
}

TEST_F(PrepareLocalDirectory, RefusesPathsOutsideTheDownloadDirectory) {
    job.m_strLocalDir = "../escape/";
    EXPECT_FALSE(job.PrepareLocalDirectory(log));
    ASSERT_EQ(log.Lines().size(), 1u);
    EXPECT_EQ(log.Lines()[0], "Cannot create directory " + tmp.Path() + "../escape/!");
    EXPECT_FALSE(PathExists(tmp.Path() + "../escape"));
}

TEST_F(PrepareLocalDirectory, RefusesTheProgramsTemporaryNames) {
    struct Case {
        const char* dir;
        const char* file;
    } cases[] = {{"/", "~tmp~99~.tmp"},
                 {"/", "~tmp~98~.tmp"},
                 {"/", "~tmp~150~.tmp"},  // a transfer's own, past the job's
                 {"~tmp~99~.tmp/", "x.gif"},
                 {"~tmp~98~.tmp/sub/", "index.htm"}};
    for (const auto& c : cases) {
        CRecordingProgress caseLog;
        job.m_strLocalDir = c.dir;
        job.m_strFileName = c.file;
        EXPECT_FALSE(job.PrepareLocalDirectory(caseLog)) << c.dir << c.file;
        ASSERT_EQ(caseLog.Lines().size(), 1u);
        EXPECT_EQ(caseLog.Lines()[0].rfind("Cannot create file " + tmp.Path(), 0), 0u);
    }
    job.m_strLocalDir = "x/~tmp~99~.tmp/";  // deeper down it is just a name
    job.m_strFileName = "a.gif";
    EXPECT_TRUE(job.PrepareLocalDirectory(log));
}

}  // namespace
}  // namespace tandril
