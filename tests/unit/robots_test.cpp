// robots.txt files and paths, and the verdicts a crawler named Tandril gets.
#include <gtest/gtest.h>

#include <string>

#include "url/robots.h"
#include "url/site_scope.h"

namespace tandril {
namespace {

// The example of RFC 9309, section 5.1.
const char kRfcExample[] =
    "User-Agent: *\n"
    "Disallow: *.gif$\n"
    "Disallow: /example/\n"
    "Allow: /publications/\n"
    "\n"
    "User-Agent: foobot\n"
    "Disallow:/\n"
    "Allow:/example/page.html\n"
    "Allow:/example/allowed.gif\n"
    "\n"
    "User-Agent: barbot\n"
    "User-Agent: bazbot\n"
    "Disallow: /example/page.html\n"
    "\n"
    "User-Agent: quxbot\n"
    "\n"
    "EOF\n";

TEST(Robots, Verdicts) {
    const std::string huge(600 * 1024, 'x');
    struct Case {
        std::string file;
        const char* product;
        std::string path;
        bool allowed;
    } cases[] = {
        {kRfcExample, "foobot", "/example/page.html", true},
        {kRfcExample, "FooBot", "/example/allowed.gif", true},
        {kRfcExample, "foobot", "/x.html", false},
        {kRfcExample, "barbot", "/example/page.html", false},
        {kRfcExample, "bazbot", "/example/other.html", true},
        {kRfcExample, "quxbot", "/example/x.gif", true},
        {kRfcExample, "Tandril", "/x.gif", false},
        {kRfcExample, "Tandril", "/x.gif?v=1", true},
        {kRfcExample, "Tandril", "/example/", false},
        {kRfcExample, "Tandril", "/publications/a.html", true},
        {kRfcExample, "Tandril", "/robots.txt", true},
        // The longest match wins; Allow on a tie.
        {"User-agent: *\nAllow: /p/\nDisallow: /p/no.gif\n", "tandril", "/p/no.gif", false},
        {"User-agent: *\nAllow: /p/\nDisallow: /p/no.gif\n", "tandril", "/p/yes.gif", true},
        {"User-agent: *\nAllow: /folder\nDisallow: /folder\n", "tandril", "/folder/x", true},
        {"User-agent: *\nDisallow: /\nAllow: /$\n", "tandril", "/", true},
        {"User-agent: *\nDisallow: /\nAllow: /$\n", "tandril", "/page", false},
        {"User-agent: *\nDisallow: /*?do=edit\n", "tandril", "/doku.php?do=edit&id=a", false},
        {"User-agent: *\nDisallow: /*do=edit\n", "tandril", "/doku.php?id=a&do=edit", false},
        {"User-agent: *\nDisallow: /*?do=edit\n", "tandril", "/doku.php?id=a", true},
        {"User-agent: *\nDisallow: /*do=*&rev=\n", "tandril", "/x?do=diff&rev=3", false},
        {"User-agent: *\nDisallow:\n", "tandril", "/anything", true},
        // A group of Tandril's own replaces "*".
        {"User-agent: *\nDisallow: /\n\nUser-agent: tandril/1.1\nDisallow: /private\n", "tandril",
         "/public", true},
        {"User-agent: *\nDisallow: /\nUser-agent: tandril\nUser-agent: other\nDisallow: /p\n",
         "tandril", "/public", false},  // one group: the second agent line follows a rule
        {"User-agent: other\nDisallow: /\n", "tandril", "/x", true},
        // Groups of one agent are merged.
        {"User-agent: tandril\nDisallow: /a\n\nUser-agent: x\nDisallow: /\n\n"
         "User-agent: TANDRIL\nDisallow: /b\n",
         "tandril", "/b/c", false},
        // Percent-encoding, as RFC 9309 section 2.2.2 compares it.
        {"User-agent: *\nDisallow: /foo/bar?baz=quz\n", "tandril", "/foo/bar?baz=quz", false},
        {"User-agent: *\nDisallow: /foo/bar/\xE3\x83\x84\n", "tandril", "/foo/bar/%E3%83%84",
         false},
        {"User-agent: *\nDisallow: /foo/bar/%E3%83%84\n", "tandril", "/foo/bar/%e3%83%84", false},
        {"User-agent: *\nDisallow: /foo/bar/%62%61%7A\n", "tandril", "/foo/bar/baz", false},
        {"User-agent: *\nDisallow: /a%2Fb\n", "tandril", "/a/b", true},
        // Files that are odd or broken.
        {"\xEF\xBB\xBFUser-agent: *\r\nDisallow: /x\r\n", "tandril", "/x", false},
        {"User-agent: *\rDisallow: /x\r", "tandril", "/x", false},
        {"Disallow: /\n", "tandril", "/x", true},  // no group at all
        {"User-agent: * # everyone\nDisallow: /x # not x\n", "tandril", "/x/y", false},
        {"user-agent:*\ndisallow:/x\n", "tandril", "/x", false},
        {"User-agent: *\nDisallow: /" + huge + "\nDisallow: /y\n", "tandril", "/y", true},
        {"User-agent: *\n" + huge.substr(0, 100000) + "\nDisallow: /z\n", "tandril", "/z", false},
        // Only the first 500 KiB are read.
        {"User-agent: *\n" + huge + "\nDisallow: /z\n", "tandril", "/z", true},
        {"<html><body>Not found</body></html>", "tandril", "/x", true},
        {"User-agent: *\nDisallow: ****************************************a$\n", "tandril",
         "/" + std::string(5000, 'b'), true},
    };
    for (const auto& c : cases) {
        const CRobotsRules rules = CRobotsRules::Parse(c.file, c.product);
        EXPECT_EQ(rules.Allowed(c.path), c.allowed) << c.product << " " << c.path << " in\n"
                                                    << c.file.substr(0, 200);
    }
}

TEST(Robots, AnswersWithoutAFileAndCrawlDelay) {
    EXPECT_TRUE(CRobotsRules::AllowAll().Allowed("/x"));
    EXPECT_FALSE(CRobotsRules::DisallowAll().Allowed("/x"));
    EXPECT_TRUE(CRobotsRules::DisallowAll().Allowed("/robots.txt"));
    struct Case {
        const char* file;
        std::uint32_t ms;
    } cases[] = {
        {"User-agent: *\nCrawl-delay: 2\n", 2000},
        {"User-agent: *\nCrawl-delay: 0.5\n", 500},
        {"User-agent: tandril\nCrawl-delay: 3\nUser-agent: *\n", 3000},
        {"User-agent: *\nCrawl-delay: soon\n", 0},
        {"User-agent: other\nCrawl-delay: 9\n", 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CRobotsRules::Parse(c.file, "tandril").CrawlDelayMs(), c.ms) << c.file;
}

TEST(Robots, PatternsAgainstPaths) {
    struct Case {
        const char* pattern;
        const char* path;
        bool matches;
    } cases[] = {
        {"/", "/x", true},
        {"/x", "/", false},
        {"/*.php", "/a/b.php", true},
        {"/*.php$", "/a.php?x", false},
        {"/*.php", "/a.php?x", true},
        {"*", "", true},
        {"/a*b*c", "/aXbYc/d", true},
        {"/a*b*c", "/acb", false},
        {"$", "", true},
        {"/x$", "/x", true},
        {"/x$", "/xy", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(RobotsPatternMatches(c.pattern, c.path), c.matches) << c.pattern << " " << c.path;
}

TEST(SiteScope, PatternsAgainstUrls) {
    struct Case {
        const char* pattern;
        const char* url;
        bool matches;
    } cases[] = {
        {"*/forum/*", "http://example.com/forum/t1.html", true},
        {"*/forum/*", "http://example.com/forums/t1.html", false},
        {"*do=edit*", "http://example.com/doku.php?id=a&do=edit", true},
        {"*do=edit*", "http://example.com/doku.php?id=a", false},
        {"cdn.example.com/*", "https://CDN.example.com/lib/a.js", true},
        {"cdn.example.com/*", "https://www.cdn.example.com/lib/a.js", false},
        {"example.com:8080/*", "http://example.com:8080/x", true},
        {"example.com/*", "http://example.com:8080/x", false},
        {"https://example.com/*", "http://example.com/x", false},
        {"https://example.com/*", "HTTPS://example.com/x", true},
        {"*.pdf", "http://example.com/a/b.pdf", true},
        {"*.pdf", "http://example.com/a/b.pdf?x=1", false},
        {"*Special:*", "http://w.example/index.php?title=Special:RecentChanges", true},
        {"*", "http://example.com/", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(UrlPatternMatches(c.pattern, ParseUriRef(c.url)), c.matches)
            << c.pattern << " " << c.url;
}

TEST(SiteScope, WhatARunDoesWithAUrl) {
    CSiteScope scope;
    scope.hosts.Reset({"example.com", "http", 80});
    scope.skip = {"*/private/*"};
    scope.follow = {"docs.example.org/*"};
    scope.startFolder = "/guide/";
    scope.SetRobots("http://example.com:80",
                    CRobotsRules::Parse("User-agent: *\nDisallow: /guide/secret", "tandril"));
    struct Case {
        const char* url;
        bool hyperlink;
        ScopeVerdict verdict;
    } cases[] = {
        {"http://example.com/guide/a.html", true, ScopeVerdict::Site},
        {"http://www.example.com/guide/a.html", true, ScopeVerdict::RobotsUnknown},
        {"http://example.com/guide/secret.html", true, ScopeVerdict::Refused},
        {"http://example.com/guide/secret.png", false, ScopeVerdict::Refused},
        {"http://example.com/other.html", true, ScopeVerdict::OutsideFolder},
        {"http://example.com/img/x.png", false, ScopeVerdict::Site},
        {"http://example.com/guide/private/x.html", true, ScopeVerdict::Excluded},
        {"http://cdn.example.net/private/x.png", false, ScopeVerdict::Excluded},
        {"http://cdn.example.net/x.png", false, ScopeVerdict::Offsite},
        {"https://docs.example.org/x.html", true, ScopeVerdict::RobotsUnknown},
        {"mailto:ann@example.com", true, ScopeVerdict::Offsite},
    };
    for (const auto& c : cases)
        EXPECT_EQ(scope.Decide(ParseUriRef(c.url), c.hyperlink), c.verdict) << c.url;
    scope.obeyRobots = false;
    EXPECT_EQ(scope.Decide(ParseUriRef("http://example.com/guide/secret.html"), true),
              ScopeVerdict::Site);
}

}  // namespace
}  // namespace tandril
