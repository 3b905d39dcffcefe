#include <gtest/gtest.h>

#include "engine/mirror_job.h"

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
        {"./faq.html", 0, "http://example.com/docs/guide/faq.html", "faq.html"},
        {"sub", 0, "http://example.com/docs/guide/sub", "sub/index.htm"},
        {"sub/", 0, "http://example.com/docs/guide/sub/", "sub/index.htm"},
        {"intro.html", 0, "", "intro.html"},
        {"/docs/api.html", 0, "http://example.com/docs/api.html",
         "file:///home/ann/Mirror/docs/api.html"},
        {"/", 0, "http://example.com/", "file:///home/ann/Mirror/index.htm"},
        {"img/logo.gif", 1, "http://example.com/docs/guide/img/logo.gif", "img/logo.gif"},
        {"/img/logo.gif", 1, "http://example.com/img/logo.gif",
         "file:///home/ann/Mirror/img/logo.gif"},
        {"../index.html", 0, "", "http://example.com/docs/index.html"},
        {"/cgi-bin/search?q=x", 0, "", "http://example.com/cgi-bin/search?q=x"},
        {"search.cgi?q=x", 0, "http://example.com/docs/guide/search.cgi", "search.cgi?q=x"},
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
    for (const char* link : {"https://example.com/x.html", "data:image/png;base64,AAAA",
                             "tel:+15550100", "http://example.com/docs/x.html",
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
    EXPECT_EQ(Handle("//cdn.example.net/lib.js", 1, &queued), "http://cdn.example.net/lib.js");
    EXPECT_EQ(queued, "");
    EXPECT_EQ(Handle("//EXAMPLE.com/docs/api.html", 0, &queued),
              "file:///home/ann/Mirror/docs/api.html");
    EXPECT_EQ(queued, "http://example.com/docs/api.html");
    EXPECT_EQ(Handle("//example.com", 0, &queued), "file:///home/ann/Mirror/index.htm");
    EXPECT_EQ(queued, "http://example.com/");
}

TEST_F(LinkHandler, ParentRelativeLinksResolveAgainstTheCurrentPage) {
    job.m_strUrl = "http://example.com/docs/guide/deeper/page.html";
    std::string queued;
    EXPECT_EQ(Handle("../index.html", 0, &queued), "http://example.com/docs/guide/index.html");
    EXPECT_EQ(Handle("../../../../../x.html#f", 0, &queued), "http://example.com/x.html#f");
    EXPECT_EQ(queued, "");
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

TEST_F(LinkHandler, DotSegmentsStayInTheQueuedUrl) {
    std::string queued;
    EXPECT_EQ(Handle("a/../b.html", 0, &queued), "a/../b.html");
    EXPECT_EQ(queued, "http://example.com/docs/guide/a/../b.html");
    EXPECT_EQ(job.m_listQueue.back().strLocalDir, "docs/guide/");
    EXPECT_EQ(job.m_listQueue.back().strFileName, "b.html");
    EXPECT_EQ(Handle("/x/../../../y.html", 0, &queued), "file:///home/ann/Mirror/y.html");
}

TEST_F(LinkHandler, DownloadDirectoryIsEncodedInLocalLinks) {
    job.m_strTargetDir = "/home/ann/My Mirror#2/";
    EXPECT_EQ(Handle("/img/a.gif", 1), "file:///home/ann/My%20Mirror%232/img/a.gif");
}

TEST_F(LinkHandler, QueueAndVisitedSet) {
    job.EnqueueUrl("http://example.com/docs/", 0);
    EXPECT_EQ(job.m_mapVisited.count("http://example.com/docs/index.htm"), 1u);
    job.EnqueueUrl("http://example.com/docs", 0);
    EXPECT_EQ(job.m_mapVisited.count("http://example.com/docs/index.htm"), 1u);
    job.EnqueueUrl("http://example.com/other", 0);
    EXPECT_EQ(job.m_mapVisited.count("http://example.com/other/"), 0u);
    std::size_t size = job.m_listQueue.size();
    job.EnqueueUrl("http://example.com/docs/", 0);
    EXPECT_EQ(job.m_listQueue.size(), size);
    job.EnqueueUrl("http://example.com/p/index.htm", 0);
    EXPECT_EQ(job.m_mapVisited.count("http://example.com/p/"), 0u);
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
    EXPECT_EQ(job.m_mapVisited.size(), 2u);  // the start URL and its index.htm alias
    EXPECT_EQ(job.m_nLevel, 0u);
}

}  // namespace
}  // namespace tandril
