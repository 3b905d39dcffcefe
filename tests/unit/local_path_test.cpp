#include "url/local_path.h"

#include <gtest/gtest.h>

namespace tandril {
namespace {

const std::string kRoot = "http://example.com";

TEST(LocalPath, WorkedExamples) {
    struct Case {
        const char* url;
        const char* file;
        const char* dir;
    } cases[] = {
        {"http://example.com", "index.htm", "/"},
        {"http://example.com/", "index.htm", "/"},
        {"http://example.com/intro.html", "intro.html", "/"},
        {"http://example.com/docs/guide/", "index.htm", "docs/guide/"},
        {"http://example.com/docs/guide", "index.htm", "docs/guide/"},
        {"http://example.com/docs/guide/intro.html", "intro.html", "docs/guide/"},
        {"http://example.com/guide-1.2/notes", "index.htm", "guide-1.2/notes/"},
        // Escapes are decoded where a browser looks for the file.
        {"http://example.com/Img/Logo%20A.GIF", "Logo A.GIF", "Img/"},
    };
    for (const auto& c : cases) {
        LocalName name = LocalNameForUrl(c.url, kRoot);
        EXPECT_EQ(name.fileName, c.file) << c.url;
        EXPECT_EQ(name.localDir, c.dir) << c.url;
    }
}

TEST(LocalPath, NeverLeavesTheDownloadDirectory) {
    struct Case {
        const char* url;
        const char* file;
        const char* dir;
    } cases[] = {
        {"http://example.com/a/../../../x.html", "x.html", "/"},
        {"http://example.com/../../etc/passwd.txt", "passwd.txt", "etc/"},
        {"http://example.com/%2E%2E/%2e%2e/x.html", "x.html", "/"},
        {"http://example.com/a/b/..", "index.htm", "a/"},
        {"http://example.com/a/.", "index.htm", "a/"},
        {"http://example.com/..", "index.htm", "/"},
        {"http://example.com/a%2F..%2Fb.html", "a%2F..%2Fb.html", "/"},
        {"http://example.com/a%00b.html", "a%00b.html", "/"},
    };
    for (const auto& c : cases) {
        LocalName name = LocalNameForUrl(c.url, kRoot);
        EXPECT_EQ(name.fileName, c.file) << c.url;
        EXPECT_EQ(name.localDir, c.dir) << c.url;
        EXPECT_EQ(name.localDir.find(".."), std::string::npos) << c.url;
    }
}

TEST(LocalPath, PortInSiteRoot) {
    LocalName name =
        LocalNameForUrl("http://example.com:81/guide-1.2/notes", "http://example.com:81");
    EXPECT_EQ(name.fileName, "index.htm");
    EXPECT_EQ(name.localDir, "guide-1.2/notes/");
}

TEST(LocalPath, PageDirectory) {
    EXPECT_EQ(PageDirectory("http://example.com/docs/guide/intro.html", kRoot), "/docs/guide/");
    EXPECT_EQ(PageDirectory("http://example.com/docs/guide/", kRoot), "/docs/guide/");
    EXPECT_EQ(PageDirectory("http://example.com/docs/guide", kRoot), "/docs/guide/");
    EXPECT_EQ(PageDirectory("http://example.com", kRoot), "/");
    EXPECT_EQ(PageDirectory("http://example.com/x.html", kRoot), "/");
}

TEST(LocalPath, CompleteDirectoryLink) {
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {
        {"sub", "sub/index.htm"},
        {"sub/", "sub/index.htm"},
        {"docs/guide", "docs/guide/index.htm"},
        {"a.b/c", "a.b/c/index.htm"},
        {"intro.html", "intro.html"},
        {"file:///home/ann/Mirror/", "file:///home/ann/Mirror/index.htm"},
        {"file:///home/ann/Mirror/docs/api.html", "file:///home/ann/Mirror/docs/api.html"},
    };
    for (const auto& c : cases) {
        std::string link = c.in;
        CompleteDirectoryLink(link);
        EXPECT_EQ(link, c.out) << c.in;
    }
}

}  // namespace
}  // namespace tandril
