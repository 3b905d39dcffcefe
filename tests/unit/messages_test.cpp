#include "engine/messages.h"

#include <gtest/gtest.h>

#include "platform/file.h"
#include "tests/support/recording_progress.h"
#include "tests/support/test_support.h"

#include <cerrno>

namespace tandril {
namespace {

TEST(Messages, ArgumentsAreFilledLiterally) {
    EXPECT_EQ(FormatMessageText("Cannot connect to %s!", "http://h/x"),
              "Cannot connect to http://h/x!");
    EXPECT_EQ(FormatMessageText("Reading %s", "http://h/%s%n%d"), "Reading http://h/%s%n%d");
    EXPECT_EQ(FormatMessageText("no argument", "x"), "no argument");
}

TEST(Messages, ShowMessageUsesTheProgramTitle) {
    test::CMessageRecorder boxes;
    ShowMessage(kIdsCannotConnect, "http://h/x");
    ShowMessage(9999);  // no such message: nothing shown
    ShowFrameworkMessage(kIdsUrlInvalid);
    ASSERT_EQ(boxes.Texts().size(), 2u);
    EXPECT_EQ(boxes.Texts()[0], "Cannot connect to http://h/x!");
    EXPECT_EQ(boxes.Titles()[0], "Tandril");
    EXPECT_EQ(boxes.Texts()[1], "URL entered is invalid or not supported.");
    EXPECT_EQ(boxes.Titles()[1], std::string("Tandril"));
}

TEST(Messages, FileErrorCauses) {
    struct Case {
        int cause;
        const char* text;
    } cases[] = {
        {0, "No file error occurred."},
        {1, "Generic file open error."},
        {2, "File not found."},
        {3, "All or part of the path is invalid."},
        {4, "The permitted number of open files was exceeded."},
        {5, "The file could not be accessed."},
        {6, "There was an attempt to use an invalid file handle."},
        {7, "The current working directory cannot be removed."},
        {8, "There are no more directory entries."},
        {9, "There was an error trying to se the file pointer."},
        {10, "There was a hardware error."},
        {11, "SHARE.EXE was not loaded, or a shared region was locked."},
        {12, "There was an attempt to lock a region that was already locked."},
        {13, "The disk is full."},
        {14, "The end of file was reached."},
        {15, "There was a unspecified file error."},
        {20, "There was a unspecified file error."},
        {-1, "There was a unspecified file error."},
    };
    for (const auto& c : cases) {
        test::CMessageRecorder boxes;
        ReportFileError(c.cause);
        ASSERT_EQ(boxes.Texts().size(), 1u);
        EXPECT_EQ(boxes.Texts()[0], c.text) << c.cause;
    }
}

TEST(Messages, ErrnoMapsToCauses) {
    struct Case {
        int err;
        int cause;
    } cases[] = {
        {ENOSPC, 13}, {EDQUOT, 13}, {EACCES, 5},       {EPERM, 5},  {EROFS, 5},
        {ENOENT, 2},  {ENOTDIR, 3}, {ENAMETOOLONG, 3}, {ELOOP, 3},  {EMFILE, 4},
        {ENFILE, 4},  {EIO, 10},    {EINVAL, 99},      {EFBIG, 99},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FileCauseFromErrno(c.err), c.cause) << c.err;
    }
    EXPECT_EQ(FileErrorMessageId(FileCauseFromErrno(EINVAL)), 515u);
}

TEST(ProgressLog, MissingMessagesAddNoLine) {
    test::CRecordingProgress log;
    log.AddLog(kIdsOpeningSession);
    log.AddLog(4242);
    log.AddLogArg(kIdsConnecting, "http://h/");
    log.AddLogArg(4243, "x");
    log.SetButtonOk();
    ASSERT_EQ(log.Lines().size(), 2u);
    EXPECT_EQ(log.Lines()[0], "Opening an Internet session");
    EXPECT_EQ(log.Lines()[1], "Connecting to http://h/");
    EXPECT_EQ(log.Button(), "OK");
}

}  // namespace
}  // namespace tandril
