#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "engine/mirror_job.h"
#include "url/link_text_cache.h"

namespace tandril {
namespace {

// Start URL and current page http://example.com/docs/guide/intro.html, download
// directory /home/ann/Mirror/, level 0 and level limit 1.
class LinkHandler : public ::testing::Test {
protected:
    void SetUp() override {
        job.m_limits.m_nMaxLevels = 1;
        job.m_strTargetDir = "/home/ann/Mirror/";
        std::string url = "http://example.com/docs/guide/intro.html";
        ASSERT_TRUE(job.Start(url));
    }
    // Returns the output text; `queued` gets the URL queued for the link, if any.
    std::string Handle(const std::string& value, int kind, std::string* queued = nullptr) {
        std::size_t before = job.m_listQueue.size();
        std::string link = value;
        job.HandleLink(link, kind);
        if (queued != nullptr) {
            *queued = job.m_listQueue.size() > before ? job.m_listQueue.back().strUrl : "";
        }
        return link;
    }
    CMirrorJob job;
};

TEST_F(LinkHandler, WorkedExamples) {
    struct Case {
        const char* link;
        int kind;
        const char* queued;
        const char* output;
    } cases[] = {
        {"chapter2.html", 0, "http://example.com/docs/guide/chapter2.html", "chapter2.html"},
        {"chapter2.html#s1", 0, "http://example.com/docs/guide/chapter2.html", "chapter2.html#s1"},
        {"./faq.html", 0, "http://example.com/docs/guide/faq.html", "./faq.html"},
        {"sub", 0, "http://example.com/docs/guide/sub", "sub/index.htm"},
        {"sub/", 0, "http://example.com/docs/guide/sub/", "sub/index.htm"},
        {"intro.html", 0, "", "intro.html"},
        {"/docs/api.html", 0, "http://example.com/docs/api.html",
         "file:///home/ann/Mirror/docs/api.html"},
        {"/", 0, "http://example.com/", "file:///home/ann/Mirror/index.htm"},
        {"img/logo.gif", 1, "http://example.com/docs/guide/img/logo.gif", "img/logo.gif"},
        {"/img/logo.gif", 1, "http://example.com/img/logo.gif",
         "file:///home/ann/Mirror/img/logo.gif"},
        {"../index.html", 0, "http://example.com/docs/index.html", "../index.html"},
        {"/cgi-bin/search?q=x", 0, "", "http://example.com/cgi-bin/search?q=x"},
        // The query is part of the URL: fetched with it, saved under a name of its own.
        {"search.cgi?q=x", 0, "http://example.com/docs/guide/search.cgi?q=x",
         "file:///home/ann/Mirror/docs/guide/search.cgi@q=x.html"},
        {"?page=2", 0, "http://example.com/docs/guide/intro.html?page=2",
         "file:///home/ann/Mirror/docs/guide/intro.html@page=2.html"},
        {"?page=2#list", 0, "http://example.com/docs/guide/intro.html?page=2",
         "file:///home/ann/Mirror/docs/guide/intro.html@page=2.html#list"},
        {"view.php?a=1&b=2", 0, "http://example.com/docs/guide/view.php?a=1&b=2",
         "file:///home/ann/Mirror/docs/guide/view.php@a=1&b=2.html"},
        {"style.php?v=2", 1, "http://example.com/docs/guide/style.php?v=2",
         "file:///home/ann/Mirror/docs/guide/style.php@v=2"},
        {"about.php", 0, "http://example.com/docs/guide/about.php",
         "file:///home/ann/Mirror/docs/guide/about.php.html"},
        {"a;jsessionid=1", 0, "http://example.com/docs/guide/a;jsessionid=1",
         "a;jsessionid=1/index.htm"},
        {"cgi-bin/run", 0, "", "http://example.com/docs/guide/cgi-bin/run"},
        {"news:comp.infosystems", 0, "", "news:comp.infosystems"},
        {"#top", 0, "", "#top"},
    };
    for (const auto& c : cases) {
        SetUp();  // each row on its own
        std::string queued;
        EXPECT_EQ(Handle(c.link, c.kind, &queued), c.output) << c.link;
        EXPECT_EQ(queued, c.queued) << c.link;
    }
}

TEST_F(LinkHandler, AtTheLevelLimitHyperlinksBecomeLiveButVisitedOnesStayLocal) {
    job.m_nLevel = 1;
    std::string queued;
    EXPECT_EQ(Handle("chapter3.html", 0, &queued), "http://example.com/docs/guide/chapter3.html");
    EXPECT_EQ(queued, "");
    EXPECT_EQ(Handle("intro.html", 0, &queued), "intro.html");
    EXPECT_EQ(Handle("/docs/guide/intro.html", 0, &queued),
              "file:///home/ann/Mirror/docs/guide/intro.html");
    EXPECT_EQ(Handle("pic.gif", 1, &queued), "pic.gif");  // objects are queued at any level
    EXPECT_EQ(queued, "http://example.com/docs/guide/pic.gif");
    EXPECT_EQ(job.m_listQueue.back().nLevel, 0u);
}

TEST_F(LinkHandler, LevelAboveTheLimitDoesNotQueue) {
    job.m_nLevel = 5;  // beyond the limit, not merely equal to it
    std::string queued;
    EXPECT_EQ(Handle("deep.html", 0, &queued), "http://example.com/docs/guide/deep.html");
    EXPECT_EQ(queued, "");
}

TEST_F(LinkHandler, SchemeLinksAreNeverFollowed) {
    job.m_limits.m_bOffsiteEmbedded = false;
    for (const char* link :
         {"https://example.com:8443/x.html", "data:image/png;base64,AAAA", "tel:+15550100",
          "http://example.com:81/docs/x.html", "ftp://example.com/x", "http://other.example/x.html",
          "MAILTO:ann@example.com", "javascript:void(0)", "File:/etc/x"}) {
        std::string queued;
        EXPECT_EQ(Handle(link, 0, &queued), link);
        EXPECT_EQ(queued, "") << link;
        EXPECT_EQ(Handle(link, 1, &queued), link);
        EXPECT_EQ(queued, "") << link;
    }
}

TEST_F(LinkHandler, NetworkPathReferences) {
    std::string queued;
    EXPECT_EQ(Handle("//cdn.example.net/lib.html", 0, &queued), "http://cdn.example.net/lib.html");
    EXPECT_EQ(queued, "");
    EXPECT_EQ(Handle("//cdn.example.net/lib.js", 1, &queued),
              "file:///home/ann/Mirror/%25offsite/cdn.example.net/lib.js");
    EXPECT_EQ(queued, "http://cdn.example.net/lib.js");
    EXPECT_EQ(Handle("//EXAMPLE.com/docs/api.html", 0, &queued),
              "file:///home/ann/Mirror/docs/api.html");
    EXPECT_EQ(queued, "http://example.com/docs/api.html");
    EXPECT_EQ(Handle("//example.com", 0, &queued), "file:///home/ann/Mirror/index.htm");
    EXPECT_EQ(queued, "http://example.com/");
}

// Parent links are relative links: followed, and kept while they lead to the file.
TEST_F(LinkHandler, ParentLinksAreFollowedLikeOtherRelativeLinks) {
    job.m_strUrl = "http://example.com/docs/guide/deeper/page.html";
    job.m_strLocalDir = "docs/guide/deeper/";
    job.m_strFileName = "page.html";
    struct Case {
        const char* link;
        int kind;
        const char* queued;
        const char* output;
    } cases[] = {
        {"../index.html", 0, "http://example.com/docs/guide/index.html", "../index.html"},
        {"../../_static/style.css", 1, "http://example.com/docs/_static/style.css",
         "../../_static/style.css"},
        {"../../../../../x.html#f", 0, "http://example.com/x.html",
         "file:///home/ann/Mirror/x.html#f"},  // the server stops at its root, a disk does not
        {"../", 0, "http://example.com/docs/guide/", "../index.htm"},
        {"../../cgi-bin/x", 0, "", "http://example.com/docs/cgi-bin/x"},
    };
    for (const auto& c : cases) {
        std::string queued;
        EXPECT_EQ(Handle(c.link, c.kind, &queued), c.output) << c.link;
        EXPECT_EQ(queued, c.queued) << c.link;
    }
    job.m_nLevel = 1;  // at the limit a parent hyperlink is live, an object still fetched
    std::string queued;
    EXPECT_EQ(Handle("../other.html", 0, &queued), "http://example.com/docs/guide/other.html");
    EXPECT_EQ(queued, "");
    EXPECT_EQ(Handle("../pic.png", 1, &queued), "../pic.png");
    EXPECT_EQ(queued, "http://example.com/docs/guide/pic.png");
}

// Absolute URLs of the site are links of the site; other hosts and ports are not.
TEST_F(LinkHandler, AbsoluteUrlsOfTheSite) {
    struct Case {
        const char* link;
        int kind;
        const char* queued;
        const char* output;
    } cases[] = {
        {"http://example.com/docs/x.html", 0, "http://example.com/docs/x.html",
         "file:///home/ann/Mirror/docs/x.html"},
        {"HTTP://EXAMPLE.COM:80/a/b.png", 1, "http://example.com/a/b.png",
         "file:///home/ann/Mirror/a/b.png"},
        {"http://example.com", 0, "http://example.com/", "file:///home/ann/Mirror/index.htm"},
        {"http://example.com/docs/guide/intro.html#top", 0, "",
         "file:///home/ann/Mirror/docs/guide/intro.html#top"},
        {"//example.com/s.css", 1, "http://example.com/s.css", "file:///home/ann/Mirror/s.css"},
        {"http://example.com:8080/x.html", 0, "", "http://example.com:8080/x.html"},
        {"http://www.example.com/x.html", 0, "http://www.example.com/x.html",
         "file:///home/ann/Mirror/x.html"},
        {"http://www2.example.com/x.html", 0, "", "http://www2.example.com/x.html"},
        {"http://user@example.com/u.html", 0, "http://example.com/u.html",
         "file:///home/ann/Mirror/u.html"},
    };
    for (const auto& c : cases) {
        SetUp();
        std::string queued;
        EXPECT_EQ(Handle(c.link, c.kind, &queued), c.output) << c.link;
        EXPECT_EQ(queued, c.queued) << c.link;
    }
}

// http and https links to the start host are one site, sharing one local tree; each is
// fetched with the scheme it was written with.
TEST_F(LinkHandler, HttpAndHttpsAreOneSite) {
    struct Case {
        const char* link;
        const char* queued;
        const char* output;
    } cases[] = {
        {"https://example.com/docs/s.html", "https://example.com/docs/s.html",
         "file:///home/ann/Mirror/docs/s.html"},
        {"HTTPS://EXAMPLE.COM:443/docs/t.html", "https://EXAMPLE.COM:443/docs/t.html",
         "file:///home/ann/Mirror/docs/t.html"},
        {"https://example.com:80/x.html", "", "https://example.com:80/x.html"},
        {"https://other.example/x.html", "", "https://other.example/x.html"},
    };
    for (const auto& c : cases) {
        SetUp();
        std::string queued;
        EXPECT_EQ(Handle(c.link, 0, &queued), c.output) << c.link;
        EXPECT_EQ(queued, c.queued) << c.link;
    }
    // A file reached over both schemes is fetched once.
    SetUp();
    std::string queued;
    Handle("https://example.com/docs/both.html", 0, &queued);
    EXPECT_EQ(queued, "https://example.com/docs/both.html");
    Handle("/docs/both.html", 0, &queued);
    EXPECT_EQ(queued, "");

    // An https start URL: its http links are links of the site too.
    CMirrorJob secure;
    secure.m_limits.m_nMaxLevels = 1;
    secure.m_strTargetDir = "/home/ann/Mirror/";
    std::string url = "https://example.com:8443/a/index.html";
    ASSERT_TRUE(secure.Start(url));
    std::string link = "http://example.com/a/b.html";
    secure.HandleLink(link, 0);
    EXPECT_EQ(secure.m_listQueue.back().strUrl, "http://example.com/a/b.html");
    link = "https://example.com:8443/a/c.html";
    secure.HandleLink(link, 0);
    EXPECT_EQ(secure.m_listQueue.back().strUrl, "https://example.com:8443/a/c.html");
    link = "https://example.com/a/d.html";  // port 443 is not the site's https port
    secure.HandleLink(link, 0);
    EXPECT_EQ(link, "https://example.com/a/d.html");
    EXPECT_EQ(secure.m_listQueue.size(), 2u);
}

// A page whose content came from another URL (a redirect) resolves its links there.
TEST_F(LinkHandler, RedirectedPageResolvesAgainstWhereItCameFrom) {
    job.m_strUrl = "http://example.com/old/page.html";
    job.m_strBaseUrl = "http://example.com/new/place/page.html";
    job.m_strLocalDir = "old/";
    job.m_strFileName = "page.html";
    std::string queued;
    EXPECT_EQ(Handle("next.html", 0, &queued), "file:///home/ann/Mirror/new/place/next.html");
    EXPECT_EQ(queued, "http://example.com/new/place/next.html");
    job.m_limits.m_bRelativeLinks = true;
    EXPECT_EQ(Handle("img/a.png", 1, &queued), "../new/place/img/a.png");
    // A start URL that ends on another host brings that host into the site.
    job.AddSiteHost("https://www.example.com/");
    EXPECT_EQ(Handle("https://www.example.com/w.html", 0, &queued), "../w.html");
    EXPECT_EQ(queued, "https://www.example.com/w.html");
}

// Whether the page's own host is the site's is found once per page and host list.
TEST_F(LinkHandler, PageOnAHostThatJoinsTheSite) {
    job.m_strUrl = "http://example.com/old/page.html";
    job.m_strBaseUrl = "https://mirror.example.org/x/page.html";
    job.m_strLocalDir = "old/";
    job.m_strFileName = "page.html";
    std::string queued;
    EXPECT_EQ(Handle("y.html", 0, &queued), "y.html");  // another host's: as written
    EXPECT_EQ(queued, "");
    job.AddSiteHost("https://mirror.example.org/");
    EXPECT_EQ(Handle("y.html", 0, &queued), "file:///home/ann/Mirror/x/y.html");
    EXPECT_EQ(queued, "https://mirror.example.org/x/y.html");
    // A new start forgets the other host, and the page's answer with it.
    std::string url = "http://example.com/docs/";
    ASSERT_TRUE(job.Start(url));
    job.m_strUrl = "http://example.com/old/page.html";
    job.m_strBaseUrl = "https://mirror.example.org/x/page.html";
    EXPECT_EQ(Handle("y.html", 0, &queued), "y.html");
    EXPECT_EQ(queued, "");
}

// "?page=2" leads to another URL from each page of one folder.
TEST_F(LinkHandler, AQueryAloneIsResolvedOnEveryPage) {
    std::string queued;
    for (const char* page : {"index.php?page=home", "list.php", "view.php?sort=new"}) {
        job.m_strUrl = std::string("http://example.com/docs/guide/") + page;
        const std::string name = std::string(page).substr(0, std::string(page).find('?'));
        EXPECT_EQ(Handle("?page=2#top", 0, &queued),
                  "file:///home/ann/Mirror/docs/guide/" + name + "@page=2.html#top");
        EXPECT_EQ(queued, "http://example.com/docs/guide/" + name + "?page=2") << page;
    }
    EXPECT_EQ(Handle("?page=2", 0, &queued),
              "file:///home/ann/Mirror/docs/guide/view.php@page=2.html");
    EXPECT_EQ(queued, "");
}

// Links about the page (kind 4) and links marked nofollow (kind 3) lead to the local
// file when it is queued anyway, and are not followed otherwise.
TEST_F(LinkHandler, LinksThatAreNotFollowed) {
    std::string queued;
    EXPECT_EQ(Handle("edit.php?action=edit", kMetadataLink, &queued),
              "http://example.com/docs/guide/edit.php?action=edit");
    EXPECT_EQ(queued, "");
    EXPECT_EQ(Handle("login.html", kNofollowLink, &queued),
              "http://example.com/docs/guide/login.html");
    EXPECT_EQ(queued, "");
    EXPECT_EQ(Handle("a.html", kHyperlink, &queued), "a.html");
    EXPECT_EQ(Handle("a.html", kMetadataLink, &queued), "a.html");
    EXPECT_EQ(Handle("a.html", kNofollowLink, &queued), "a.html");
    EXPECT_EQ(queued, "");
    job.m_limits.m_bObeyRobots = false;  // then nofollow is followed, metadata never
    EXPECT_EQ(Handle("b.html", kNofollowLink, &queued), "b.html");
    EXPECT_EQ(queued, "http://example.com/docs/guide/b.html");
    EXPECT_EQ(Handle("c.html", kMetadataLink, &queued), "http://example.com/docs/guide/c.html");
    EXPECT_EQ(queued, "");
}

TEST_F(LinkHandler, AFragmentAloneQueuesNothing) {
    for (const char* link : {"#top", "#", "#?x=1"}) {
        std::string queued;
        EXPECT_EQ(Handle(link, 0, &queued), link);
        EXPECT_EQ(queued, "") << link;
    }
}

TEST_F(LinkHandler, DirectoryCompletionNeverDoublesOrPointsAtTheRoot) {
    struct Case {
        const char* link;
        const char* output;
    } cases[] = {
        {"index.htm", "index.htm"},
        {"/x/index.htm", "file:///home/ann/Mirror/x/index.htm"},
        {"./", "index.htm"},
        {"./#top", "index.htm#top"},
        {".", "index.htm"},
        {".//y.html", ".//y.html"},
        {"sub/index.htm", "sub/index.htm"},
        {"/x/", "file:///home/ann/Mirror/x/index.htm"},
    };
    for (const auto& c : cases) {
        SetUp();
        EXPECT_EQ(Handle(c.link, 0), c.output) << c.link;
    }
    SetUp();
    std::string queued;
    Handle(".//y.html", 0, &queued);
    EXPECT_EQ(queued, "http://example.com/docs/guide//y.html");
}

TEST_F(LinkHandler, APageFetchedAsADotSegmentResolvesAgainstItsDirectory) {
    job.m_strUrl = "http://example.com/docs/guide/..";
    job.m_strLocalDir = "docs/";
    job.m_strFileName = "index.htm";
    std::string queued;
    EXPECT_EQ(Handle("api.html", 0, &queued), "api.html");
    EXPECT_EQ(queued, "http://example.com/docs/api.html");
}

// The portable option: every link to a file of the copy is a relative path.
TEST_F(LinkHandler, RelativeLinksMakeAPortableCopy) {
    job.m_limits.m_bRelativeLinks = true;
    job.m_strLocalDir = "docs/guide/";
    job.m_strFileName = "intro.html";
    struct Case {
        const char* link;
        int kind;
        const char* output;
    } cases[] = {
        {"/docs/api.html", 0, "../api.html"},
        {"/", 0, "../../index.htm"},
        {"chapter2.html#s1", 0, "chapter2.html#s1"},
        {"http://example.com/img/a%20b.gif", 1, "../../img/a%20b.gif"},
        {"../../../x.html", 0, "../../x.html"},
        {"sub", 0, "sub/index.htm"},
        {"/cgi-bin/s?q=1", 0, "http://example.com/cgi-bin/s?q=1"},
        {"http://other.example/", 0, "http://other.example/"},
    };
    for (const auto& c : cases) {
        SetUp();
        job.m_limits.m_bRelativeLinks = true;
        job.m_strLocalDir = "docs/guide/";
        job.m_strFileName = "intro.html";
        EXPECT_EQ(Handle(c.link, c.kind), c.output) << c.link;
    }
}

// Copy only: the same links are queued; the text is never used.
TEST_F(LinkHandler, CopyOnlyQueuesTheSameUrls) {
    const char* links[] = {"a.html",    "../b.html", "/c.html",   "http://example.com/d.html",
                           "img/e.png", "?x",        "mailto:a@b"};
    std::vector<std::string> modified, copied;
    for (bool modify : {true, false}) {
        SetUp();
        job.m_limits.m_bModifyLinks = modify;
        for (const char* link : links)
            Handle(link, 0);
        for (const auto& entry : job.m_listQueue)
            (modify ? modified : copied).push_back(entry.strUrl);
    }
    EXPECT_EQ(modified, copied);
    EXPECT_EQ(modified.size(), 6u);
}

TEST_F(LinkHandler, EmptyAndControlByteLinksStayAsFound) {
    std::string queued;
    EXPECT_EQ(Handle("", 0, &queued), "");
    EXPECT_EQ(queued, "");
    EXPECT_EQ(Handle("a\nb.html", 0, &queued), "a\nb.html");
    EXPECT_EQ(queued, "");
    EXPECT_EQ(Handle("x\x7f.gif", 1, &queued), "x\x7f.gif");
    EXPECT_EQ(queued, "");
}

TEST_F(LinkHandler, SecondOccurrenceIsCompletedFromItsOwnText) {
    std::string queued;
    EXPECT_EQ(Handle("sub", 0, &queued), "sub/index.htm");
    EXPECT_EQ(Handle("sub", 0, &queued), "sub/index.htm");
    EXPECT_EQ(queued, "");
    EXPECT_EQ(job.m_listQueue.size(), 1u);
}

// Links decided once are found again as written and without their suffix: each
// occurrence keeps its own suffix, and a context change forgets them all.
TEST_F(LinkHandler, DecidedTextsAreKeptWithAndWithoutSuffixes) {
    struct Case {
        const char* link;
        const char* output;
    } cases[] = {
        {"/docs/api.html#a", "file:///home/ann/Mirror/docs/api.html#a"},
        {"/docs/api.html#a", "file:///home/ann/Mirror/docs/api.html#a"},
        {"/docs/api.html#b", "file:///home/ann/Mirror/docs/api.html#b"},
        {"/docs/api.html", "file:///home/ann/Mirror/docs/api.html"},
        {"/docs/api.html?x=1", "file:///home/ann/Mirror/docs/api.html@x=1.html"},
        {"/docs/api.html?x=1#c", "file:///home/ann/Mirror/docs/api.html@x=1.html#c"},
        {"sub#top", "sub/index.htm#top"},
        {"sub", "sub/index.htm"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Handle(c.link, 0), c.output) << c.link;
    EXPECT_EQ(job.m_listQueue.size(), 3u);  // api.html, api.html?x=1 and sub, once each

    job.m_strTargetDir = "/home/bob/Copy/";  // another context: nothing is found again
    EXPECT_EQ(Handle("/docs/api.html#a", 0), "file:///home/bob/Copy/docs/api.html#a");
}

TEST(LinkTextCache, KeepsFindsReplacesAndForgets) {
    CLinkTextCache cache;
    EXPECT_FALSE(cache.Find("a"));
    cache.Put("a", "A");
    ASSERT_TRUE(cache.Find("a"));
    EXPECT_EQ(*cache.Find("a"), "A");
    EXPECT_FALSE(cache.Find("b"));
    // Two links that want one slot: the newer one takes it.
    std::string other;
    const std::size_t slot = CLinkTextCache::SlotOf("a");
    for (int i = 0; other.empty(); ++i) {
        const std::string candidate = "link" + std::to_string(i);
        if (CLinkTextCache::SlotOf(candidate) == slot)
            other = candidate;
    }
    cache.Put(other, "O");
    EXPECT_FALSE(cache.Find("a"));
    EXPECT_EQ(*cache.Find(other), "O");
    cache.Clear();
    EXPECT_FALSE(cache.Find(other));
    cache.Put("a", "A2");
    EXPECT_EQ(*cache.Find("a"), "A2");
}

TEST(LinkTextCache, StaysWithinItsStore) {
    CLinkTextCache cache;
    // Texts too long to keep are decided again each time.
    const std::string longText(CLinkTextCache::kMaxEntryBytes + 1, 'x');
    cache.Put("long", longText);
    EXPECT_FALSE(cache.Find("long"));
    cache.Put(longText, "short");
    EXPECT_FALSE(cache.Find(longText));
    // A full store starts again: the newest text is kept, older ones are forgotten.
    const std::string text(1000, 't');
    const std::size_t fits = CLinkTextCache::kStoreBytes / text.size() + 1;  // one too many
    cache.Put("first", "F");
    // Built with append: GCC 12 at -O3 warns falsely (-Wrestrict) on "l" + std::string.
    for (std::size_t i = 0; i < fits; ++i) {
        cache.Put(std::string("l").append(std::to_string(i)), text);
    }
    EXPECT_FALSE(cache.Find("first"));
    const std::string last = std::string("l").append(std::to_string(fits - 1));
    ASSERT_TRUE(cache.Find(last));
    EXPECT_EQ(*cache.Find(last), text);
}

TEST_F(LinkHandler, DotSegmentsAreResolvedInTheQueuedUrl) {
    std::string queued;
    EXPECT_EQ(Handle("a/../b.html", 0, &queued), "a/../b.html");
    EXPECT_EQ(queued, "http://example.com/docs/guide/b.html");
    EXPECT_EQ(job.m_listQueue.back().strLocalDir, "docs/guide/");
    EXPECT_EQ(job.m_listQueue.back().strFileName, "b.html");
    EXPECT_EQ(Handle("/x/../../../y.html", 0, &queued), "file:///home/ann/Mirror/y.html");
}

TEST_F(LinkHandler, DownloadDirectoryIsEncodedInLocalLinks) {
    job.m_strTargetDir = "/home/ann/My Mirror#2/";
    EXPECT_EQ(Handle("/img/a.gif", 1), "file:///home/ann/My%20Mirror%232/img/a.gif");
}

// URLs saved as one local file are fetched once.
TEST_F(LinkHandler, QueueAndVisitedSet) {
    EXPECT_TRUE(job.EnqueueUrl("http://example.com/docs/", 0));
    EXPECT_TRUE(job.IsVisited("http://example.com/docs/index.htm"));
    EXPECT_FALSE(job.EnqueueUrl("http://example.com/docs", 0));
    EXPECT_FALSE(job.EnqueueUrl("http://example.com/docs/index.htm", 0));
    EXPECT_TRUE(job.EnqueueUrl("http://example.com/other", 0));
    EXPECT_TRUE(job.IsVisited("http://example.com/other/"));
    EXPECT_TRUE(job.EnqueueUrl("http://example.com/a%20b.html", 0));
    EXPECT_FALSE(job.EnqueueUrl("http://example.com/a b.html", 0));
    EXPECT_TRUE(job.EnqueueUrl("http://example.com/A%20b.html", 0));  // letter case counts
    EXPECT_EQ(job.m_listQueue.size(), 3u + 1u);
}

TEST_F(LinkHandler, ObjectsOnTheStartPageShareItsLevel) {
    Handle("pic.gif", 1);
    EXPECT_EQ(job.m_listQueue.back().nLevel, 0u);
    Handle("next.html", 0);
    EXPECT_EQ(job.m_listQueue.back().nLevel, 0u);
    job.m_nLevel = 1;
    job.m_limits.m_nMaxLevels = 3;
    Handle("pic2.gif", 1);
    EXPECT_EQ(job.m_listQueue.back().nLevel, 0u);
    Handle("next2.html", 0);
    EXPECT_EQ(job.m_listQueue.back().nLevel, 1u);
}

TEST_F(LinkHandler, SecondRunStartsEmpty) {
    Handle("a.html", 0);
    std::string url = "http://example.com/";
    ASSERT_TRUE(job.Start(url));
    EXPECT_TRUE(job.m_listQueue.empty());
    EXPECT_EQ(job.m_mapVisited.size(), 1u);
    EXPECT_FALSE(job.IsVisited("http://example.com/docs/guide/a.html"));
    EXPECT_EQ(job.m_nLevel, 0u);
}

}  // namespace
}  // namespace tandril
