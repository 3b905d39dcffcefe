#include "url/url_text.h"

#include <gtest/gtest.h>

namespace tandril {
namespace {

TEST(UrlText, SchemePrefixes) {
    struct Case {
        const char* link;
        bool scheme;
    } cases[] = {
        {"mailto:ann@example.com", true},
        {"MAILTO:ann@example.com", true},
        {"HTTP://x/", true},
        {"http://example.com/docs/x.html", true},
        {"ftp://x", true},
        {"gopher://x", true},
        {"news:comp.infosystems", true},
        {"nntp:x", true},
        {"telnet:x", true},
        {"wais:x", true},
        {"prospero:x", true},
        {"File:/etc/passwd", true},
        {"javascript:alert(1)", true},
        {"https://example.com/", true},
        {"data:image/png;base64,xx", true},
        {"tel:+1-555", true},
        {"svn+ssh:x", true},
        {"a.b-c:x", true},
        {"page.html", false},
        {"a/b:c", false},
        {"1abc:x", false},
        {":x", false},
        {"", false},
        {"noscheme", false},
        {"sp ace:x", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(HasSchemePrefix(c.link), c.scheme) << c.link;
    }
}

TEST(UrlText, ClassifyLink) {
    struct Case {
        const char* link;
        LinkForm form;
        const char* after;
    } cases[] = {
        {"../x.html", LinkForm::ParentRelative, "../x.html"},
        {"/docs/x.html", LinkForm::AbsolutePath, "/docs/x.html"},
        {"//cdn.example.com/lib.js", LinkForm::NetworkPath, "//cdn.example.com/lib.js"},
        {"./faq.html", LinkForm::Relative, "faq.html"},
        {"./../x.html", LinkForm::Relative, "../x.html"},
        {"./mailto:x", LinkForm::Scheme, "mailto:x"},
        {"news:comp.infosystems", LinkForm::Scheme, "news:comp.infosystems"},
        {"https://example.com/", LinkForm::Scheme, "https://example.com/"},
        {"sub", LinkForm::Relative, "sub"},
        {"", LinkForm::Relative, ""},
    };
    for (const auto& c : cases) {
        std::string link = c.link;
        EXPECT_EQ(ClassifyLink(link), c.form) << c.link;
        EXPECT_EQ(link, c.after) << c.link;
    }
}

TEST(UrlText, CgiAndDirectoryTests) {
    EXPECT_TRUE(IsCgiLink("/cgi-bin/search"));
    EXPECT_TRUE(IsCgiLink("/usr/bin/tool"));
    EXPECT_TRUE(IsCgiLink("cgi-bin/run"));
    EXPECT_FALSE(IsCgiLink("/CGI-BIN/search"));
    EXPECT_FALSE(IsCgiLink("search.cgi"));

    EXPECT_TRUE(IsDirectorySegment("notes"));
    EXPECT_FALSE(IsDirectorySegment("guide-1.2"));
    EXPECT_FALSE(IsDirectorySegment("index.htm"));

    EXPECT_TRUE(IsDirectoryUrl("http://example.com"));
    EXPECT_TRUE(IsDirectoryUrl("http://example.com/"));
    EXPECT_TRUE(IsDirectoryUrl("http://example.com/docs"));
    EXPECT_TRUE(IsDirectoryUrl("http://example.com/a/.."));
    EXPECT_FALSE(IsDirectoryUrl("http://example.com/guide-1.2"));
    EXPECT_FALSE(IsDirectoryUrl("http://example.com/a.b/c.html"));
}

TEST(UrlText, RemoveDotSegments) {
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {
        {"/a/b/c.html", "/a/b/c.html"},
        {"/a/../../../x.html", "/x.html"},
        {"/a/./b/", "/a/b/"},
        {"/a/b/..", "/a/"},
        {"/a/b/.", "/a/b/"},
        {"/..", "/"},
        {"/", "/"},
        {"/../a/", "/a/"},
        {"/a//b", "/a//b"},
        {"/a/..b/c", "/a/..b/c"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(RemoveDotSegments(c.in), c.out) << c.in;
    }
}

TEST(UrlText, DecodeLocalNameKeepsSlashAndNul) {
    EXPECT_EQ(DecodeLocalName("/Img/Logo%20A.GIF"), "/Img/Logo A.GIF");
    EXPECT_EQ(DecodeLocalName("/a%2Fb%2f%00c"), "/a%2Fb%2f%00c");
    EXPECT_EQ(DecodeLocalName("/%2E%2E/x"), "/../x");
    EXPECT_EQ(DecodeLocalName("/100%"), "/100%");
    EXPECT_EQ(DecodeLocalName("/%zz%4"), "/%zz%4");
    EXPECT_EQ(DecodeLocalName("/caf%C3%A9"), "/caf\xC3\xA9");
}

TEST(UrlText, EncodeForRequestEscapesOnlyWhatAUrlCannotCarry) {
    EXPECT_EQ(EncodeForRequest("http://h/a b\"<>\\^`{}|\x01\x7f\xe9?q=1&r=%41#f"),
              "http://h/a%20b%22%3C%3E%5C%5E%60%7B%7D%7C%01%7F%E9?q=1&r=%41#f");
    EXPECT_EQ(EncodeLocalPath("/home/ann/My Mirror#1/100%/"), "/home/ann/My%20Mirror%231/100%25/");
}

}  // namespace
}  // namespace tandril
