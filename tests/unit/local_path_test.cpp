#include "url/local_path.h"

#include <gtest/gtest.h>

namespace tandril {
namespace {

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
        LocalName name = LocalNameForUrl(c.url);
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
        LocalName name = LocalNameForUrl(c.url);
        EXPECT_EQ(name.fileName, c.file) << c.url;
        EXPECT_EQ(name.localDir, c.dir) << c.url;
        EXPECT_EQ(name.localDir.find(".."), std::string::npos) << c.url;
    }
}

TEST(LocalPath, PortInSiteRoot) {
    LocalName name = LocalNameForUrl("http://example.com:81/guide-1.2/notes");
    EXPECT_EQ(name.fileName, "index.htm");
    EXPECT_EQ(name.localDir, "guide-1.2/notes/");
}

TEST(LocalPath, PageDirectory) {
    EXPECT_EQ(PageDirectory("http://example.com/docs/guide/intro.html"), "/docs/guide/");
    EXPECT_EQ(PageDirectory("http://example.com/docs/guide/"), "/docs/guide/");
    // As in a browser, a last segment without "/" is a file, not a directory.
    EXPECT_EQ(PageDirectory("http://example.com/docs/guide"), "/docs/");
    EXPECT_EQ(PageDirectory("http://example.com"), "/");
    EXPECT_EQ(PageDirectory("http://example.com/x.html"), "/");
}

TEST(LocalPath, PageDirectoryTreatsDotSegmentsAsDirectories) {
    EXPECT_EQ(PageDirectory("http://example.com/docs/guide/.."), "/docs/");
    EXPECT_EQ(PageDirectory("http://example.com/docs/guide/."), "/docs/guide/");
    EXPECT_EQ(PageDirectory("http://example.com/docs/./guide/x.html"), "/docs/guide/");
    EXPECT_EQ(PageDirectory("http://example.com/docs/guide?x=1"), "/docs/");
    EXPECT_EQ(PageDirectory("http://example.com/docs/guide/?x=1"), "/docs/guide/");
}

LocalName Name(const char* dir, const char* file) {
    return LocalName{file, dir};
}

TEST(LocalPath, WhereAWrittenReferenceLeadsOnDisk) {
    const LocalName page = Name("docs/guide/", "intro.html");
    struct Case {
        const char* reference;
        LocalName target;
        bool leads;
    } cases[] = {
        {"chapter2.html", Name("docs/guide/", "chapter2.html"), true},
        {"../api.html", Name("docs/", "api.html"), true},
        {"../../index.htm", Name("/", "index.htm"), true},
        {"../../../x.html", Name("/", "x.html"), false},  // above the download directory
        {"sub", Name("docs/guide/sub/", "index.htm"), true},
        {"sub/", Name("docs/guide/sub/", "index.htm"), true},
        {"./", Name("docs/guide/", "index.htm"), true},
        {"", Name("docs/guide/", "index.htm"), true},
        {"a%20b.html", Name("docs/guide/", "a b.html"), true},
        {"x.html?v=1", Name("docs/guide/", "x.html?v=1"), false},
        {"chapter2.html", Name("docs/", "chapter2.html"), false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(LeadsToLocalFile(c.reference, page, c.target), c.leads) << c.reference;
    }
    // A page at the top: "../" climbs out of the copy.
    EXPECT_FALSE(LeadsToLocalFile("../x.html", Name("/", "index.htm"), Name("/", "x.html")));
}

TEST(LocalPath, CompleteDirectoryLink) {
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {
        {"sub", "sub/index.htm"},
        {"sub/", "sub/index.htm"},
        {"a.b/c", "a.b/c/index.htm"},
        {"./", "index.htm"},
        {"", "index.htm"},
        {".", "index.htm"},
        {"index.htm", "index.htm"},
        {"x/index.htm", "x/index.htm"},
        {"..", "../index.htm"},
        {"../", "../index.htm"},
    };
    for (const auto& c : cases) {
        std::string link = c.in;
        CompleteDirectoryLink(link, Name("docs/", "index.htm"));
        EXPECT_EQ(link, c.out) << c.in;
    }
    std::string file = "intro.html";
    CompleteDirectoryLink(file, Name("docs/", "intro.html"));
    EXPECT_EQ(file, "intro.html");
}

TEST(LocalPath, LocalLinks) {
    struct Case {
        LocalName page;
        LocalName target;
        const char* relative;
        const char* absolute;
    } cases[] = {
        {Name("docs/guide/", "intro.html"), Name("docs/", "api.html"), "../api.html",
         "file:///home/ann/Mirror/docs/api.html"},
        {Name("docs/guide/", "intro.html"), Name("/", "index.htm"), "../../index.htm",
         "file:///home/ann/Mirror/index.htm"},
        {Name("/", "index.htm"), Name("docs/guide/", "a b.html"), "docs/guide/a%20b.html",
         "file:///home/ann/Mirror/docs/guide/a%20b.html"},
        {Name("docs/", "x.html"), Name("docs/", "x.html"), "x.html",
         "file:///home/ann/Mirror/docs/x.html"},
        {Name("a/b/", "x.html"), Name("a/c/", "y#1.html"), "../c/y%231.html",
         "file:///home/ann/Mirror/a/c/y%231.html"},
        {Name("/", "x.html"), Name("/", "c:d.html"), "./c:d.html",
         "file:///home/ann/Mirror/c:d.html"},
        {Name("/", "x.html"), Name("/", "q.cgi?x=1"), "q.cgi%3Fx=1",
         "file:///home/ann/Mirror/q.cgi%3Fx=1"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(RelativeLocalLink(c.page, c.target), c.relative) << c.relative;
        EXPECT_EQ(AbsoluteLocalLink("/home/ann/Mirror/", c.target), c.absolute) << c.absolute;
    }
}

TEST(LocalPath, ControlBytesStayEncodedInLocalNames) {
    LocalName name = LocalNameForUrl("http://example.com/a%1Bb/c%0Ad%7F%41.html");
    EXPECT_EQ(name.localDir, "a%1Bb/");
    EXPECT_EQ(name.fileName, "c%0Ad%7FA.html");
}

}  // namespace
}  // namespace tandril
