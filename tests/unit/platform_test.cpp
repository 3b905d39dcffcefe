#include <gtest/gtest.h>

#include <cerrno>
#include <thread>

#include "platform/file.h"
#include "platform/fs.h"
#include "platform/thread.h"
#include "tests/support/test_support.h"

namespace tandril {
namespace {

TEST(File, WriteReadAndFailures) {
    test::CTempDir tmp;
    CFile out;
    ASSERT_TRUE(out.OpenForWrite(tmp.Path() + "f"));
    out.Write("hello", 5);
    out.Close();
    CFile in;
    ASSERT_TRUE(in.OpenForRead(tmp.Path() + "f"));
    char buf[16];
    EXPECT_EQ(in.Read(buf, sizeof(buf)), 5u);
    EXPECT_EQ(in.Read(buf, sizeof(buf)), 0u);

    CFile missing;
    EXPECT_FALSE(missing.OpenForRead(tmp.Path() + "nope"));
    EXPECT_FALSE(missing.OpenForWrite(tmp.Path() + "no/dir/f"));
    try {
        missing.Write("x", 1);
        FAIL() << "no exception";
    } catch (const FileException& e) {
        EXPECT_EQ(e.cause, kFileInvalidHandle);
    }
}

TEST(File, FullDeviceRaisesDiskFullAtTheLatestOnClose) {
    CFile full;
    ASSERT_TRUE(full.OpenForWrite("/dev/full"));
    full.Write("x", 1);  // buffered
    try {
        full.Close();
        FAIL() << "no exception";
    } catch (const FileException& e) {
        EXPECT_EQ(e.cause, kFileDiskFull);
    }
    CFile big;
    ASSERT_TRUE(big.OpenForWrite("/dev/full"));
    std::string block(CFile::kWriteBuffer + 1, 'b');
    EXPECT_THROW(big.Write(block.data(), block.size()), FileException);
}

TEST(File, BufferedWritesArriveWholeAndInOrder) {
    test::CTempDir tmp;
    std::string expected;
    {
        CFile out;
        ASSERT_TRUE(out.OpenForWrite(tmp.Path() + "f"));
        for (int i = 0; i < 5000; ++i) {
            std::string piece(static_cast<std::size_t>(i % 97), static_cast<char>('a' + i % 26));
            if (i % 1000 == 0)
                piece.assign(70000, 'Z');
            out.Write(piece.data(), piece.size());
            expected += piece;
        }
        out.Close();
    }
    EXPECT_EQ(test::ReadFile(tmp.Path() + "f"), expected);

    // A file created kGatheredWhenLarge holds every byte as soon as Write returns until
    // 64 KiB are written; after that it gathers again.
    CFile direct;
    ASSERT_TRUE(direct.CreateFresh(tmp.Path() + "d", CFile::Buffering::kGatheredWhenLarge));
    std::string written;
    while (written.size() < CFile::kWriteBuffer) {
        std::string piece(std::min<std::size_t>(3001, CFile::kWriteBuffer - written.size()),
                          static_cast<char>('0' + written.size() % 10));
        direct.Write(piece.data(), piece.size());
        written += piece;
        ASSERT_EQ(test::ReadFile(tmp.Path() + "d").size(), written.size());
    }
    direct.Write("tail", 4);
    EXPECT_EQ(test::ReadFile(tmp.Path() + "d"), written);
    direct.Close();
    EXPECT_EQ(test::ReadFile(tmp.Path() + "d"), written + "tail");
    // The same object reopened for a page is buffered again.
    ASSERT_TRUE(direct.OpenForWrite(tmp.Path() + "g"));
    direct.Write("abc", 3);
    EXPECT_EQ(test::ReadFile(tmp.Path() + "g"), "");
    direct.Close();
    EXPECT_EQ(test::ReadFile(tmp.Path() + "g"), "abc");
}

TEST(FileSystem, RenameReplacesAndDeleteReports) {
    test::CTempDir tmp;
    test::WriteFile(tmp.Path() + "a", "new");
    test::WriteFile(tmp.Path() + "b", "old");
    EXPECT_TRUE(RenameFile(tmp.Path() + "a", tmp.Path() + "b"));
    EXPECT_EQ(test::ReadFile(tmp.Path() + "b"), "new");
    EXPECT_FALSE(PathExists(tmp.Path() + "a"));
    EXPECT_TRUE(DeleteFile(tmp.Path() + "b"));
    EXPECT_FALSE(DeleteFile(tmp.Path() + "b"));
    EXPECT_TRUE(CreateDirectoryLevel(tmp.Path() + "d"));
    EXPECT_FALSE(CreateDirectoryLevel(tmp.Path() + "x/y"));
    EXPECT_TRUE(IsDirectory(tmp.Path() + "d"));
}

TEST(MessageQueue, QuitOvertakesQueuedMessages) {
    CMessageQueue queue;
    std::thread producer([&] {
        queue.Post(1);
        queue.Post(2);
    });
    producer.join();
    EXPECT_EQ(queue.Get(), 1u);
    queue.Post(kMsgQuit);
    EXPECT_EQ(queue.Get(), kMsgQuit);
    EXPECT_EQ(queue.Get(), kMsgQuit);
}

TEST(MessageQueue, GetBlocksUntilPost) {
    CMessageQueue queue;
    std::thread consumer([&] { EXPECT_EQ(queue.Get(), 1125u); });
    queue.Post(1125);
    consumer.join();
}

}  // namespace
}  // namespace tandril
