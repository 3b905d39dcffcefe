#include "engine/mirror_job.h"

#include <gtest/gtest.h>

#include "tests/support/recording_progress.h"

namespace tandril {
namespace {

TEST(MirrorJob, StartDerivesSiteRootAndBasePath) {
    struct Case {
        const char* url;
        const char* host;
        const char* root;
        const char* base;
    } cases[] = {
        {"http://h", "h", "http://h", ""},
        {"http://h/", "h", "http://h", ""},
        {"http://h/a/b/", "h", "http://h", "/a/b"},
        {"http://h/a/page.html", "h", "http://h", "/a"},
        {"http://h/a/b", "h", "http://h", "/a/b"},
        {"http://h/page.htm", "h", "http://h", ""},
        {"HTTP://example.com/", "example.com", "HTTP://example.com", ""},
        {"http://example.com/docs/guide/intro.html", "example.com", "http://example.com",
         "/docs/guide"},
        {"http://example.com:81/guide-1.2/notes", "example.com:81", "http://example.com:81",
         "/guide-1.2/notes"},
        {"  HTTP://Host/Dir/ \t", "Host", "HTTP://Host", "/Dir"},
        {"hTtP://x/y", "x", "hTtP://x", "/y"},
    };
    for (const auto& c : cases) {
        CMirrorJob job;
        std::string url = c.url;
        ASSERT_TRUE(job.Start(url)) << c.url;
        EXPECT_EQ(job.m_strHost, c.host) << c.url;
        EXPECT_EQ(job.m_strSiteRoot, c.root) << c.url;
        EXPECT_EQ(job.m_strBasePath, c.base) << c.url;
        EXPECT_EQ(job.m_strUrl, url) << c.url;
        EXPECT_EQ(job.m_nLevel, 0u);
        EXPECT_TRUE(job.m_listQueue.empty());
        EXPECT_TRUE(job.IsVisited(url));
    }
}

TEST(MirrorJob, StartAcceptsHttps) {
    for (const char* url : {"https://example.com/docs/", " HTTPS://Example.com:8443/a.html "}) {
        CMirrorJob job;
        std::string text = url;
        ASSERT_TRUE(job.Start(text)) << url;
        EXPECT_EQ(job.m_strUrl, text);
        EXPECT_EQ(job.m_strSiteRoot, text.substr(0, text.find('/', 8)));
        EXPECT_EQ(job.m_scope.hosts.size(), 1u);
        EXPECT_EQ(job.m_scope.hosts[0].scheme, "https");
        EXPECT_EQ(job.m_scope.hosts[0].host, "example.com");
    }
}

TEST(MirrorJob, StartRefusesOtherSchemesAndEmptyHosts) {
    for (const char* bad : {"ftp://host/", "http:/host", "", "http", "http://", "http:///x",
                            "  http:// ", "https://", "httpx://example.com/"}) {
        CMirrorJob job;
        job.m_strHost = "before";
        std::string url = bad;
        EXPECT_FALSE(job.Start(url)) << bad;
        EXPECT_EQ(job.m_strHost, "before") << bad;
        EXPECT_TRUE(job.m_mapVisited.empty()) << bad;
    }
}

TEST(MirrorJob, StartTrimsAndSetsTheFirstPage) {
    CMirrorJob job;
    std::string url = " http://example.com/docs/guide/intro.html ";
    ASSERT_TRUE(job.Start(url));
    EXPECT_EQ(url, "http://example.com/docs/guide/intro.html");
    EXPECT_EQ(job.m_strFileName, "intro.html");
    EXPECT_EQ(job.m_strLocalDir, "docs/guide/");
}

TEST(MirrorJob, NextUrlStopsAtTheFirstEntryBeyondTheLevelLimit) {
    CMirrorJob job;
    job.m_limits.m_nMaxLevels = 1;
    std::string url = "http://h/";
    ASSERT_TRUE(job.Start(url));
    job.m_listQueue.push_back({"http://h/a.html", 2, "a.html", "/", "a.html"});
    job.m_listQueue.push_back({"http://h/b.html", 0, "b.html", "/", "b.html"});
    EXPECT_FALSE(job.NextUrl());
    EXPECT_EQ(job.m_listQueue.size(), 1u);  // the entries behind it stay
    EXPECT_EQ(job.m_strUrl, "http://h/");

    ASSERT_TRUE(job.NextUrl());
    EXPECT_EQ(job.m_strUrl, "http://h/b.html");
    EXPECT_EQ(job.m_nLevel, 1u);
    EXPECT_FALSE(job.NextUrl());
}

TEST(MirrorJob, ByteTallyCountsWholeMegabytes) {
    CMirrorLimits limits;
    limits.CountBytes(600000);
    EXPECT_EQ(limits.m_nMegaBytes, 0u);
    limits.CountBytes(600000);
    EXPECT_EQ(limits.m_nMegaBytes, 1u);
    EXPECT_EQ(limits.m_nMegaBytes * 1048576u + limits.m_nKiloRest * 1024u + limits.m_nByteRest,
              1200000u);
    limits.CountBytes(0);
    EXPECT_EQ(limits.m_nByteRest, 1200000u % 1024u);
    CMirrorLimits exact;
    for (int i = 0; i < 1280; ++i)
        exact.CountBytes(4096);
    EXPECT_EQ(exact.m_nMegaBytes, 5u);
    EXPECT_EQ(exact.m_nKiloRest, 0u);
    EXPECT_EQ(exact.m_nByteRest, 0u);
}

TEST(MirrorJob, CheckLimits) {
    struct Case {
        std::uint32_t files, maxFiles, mb, maxMb;
        bool ok;
        const char* line;
    } cases[] = {
        {0, 200, 0, 5, true, nullptr},
        {1, 1, 0, 5, false,
         "The number of files downloaded has reached the maximum limit set in the options "
         "dialog."},
        {3, 200, 5, 5, false,
         "The total number of mega-bytes downloaded has reached the maximum limit set in the "
         "options dialong."},
        {5, 5, 9, 5, false,
         "The number of files downloaded has reached the maximum limit set in the options "
         "dialog."},
        {4, 5, 4, 5, true, nullptr},
    };
    for (const auto& c : cases) {
        CMirrorLimits limits;
        limits.m_nFiles = c.files;
        limits.m_nMaxFiles = c.maxFiles;
        limits.m_nMegaBytes = c.mb;
        limits.m_nMaxMegaBytes = c.maxMb;
        test::CRecordingProgress log;
        EXPECT_EQ(CheckLimits(limits, log), c.ok);
        if (c.ok) {
            EXPECT_TRUE(log.Lines().empty());
            EXPECT_EQ(log.Button(), "Cancel");
        } else {
            ASSERT_EQ(log.Lines().size(), 1u);
            EXPECT_EQ(log.Lines()[0], c.line);
            EXPECT_EQ(log.Button(), "OK");
        }
    }
}

}  // namespace
}  // namespace tandril
