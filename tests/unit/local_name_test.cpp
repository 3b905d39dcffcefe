// Local names of URLs with queries, odd bytes and long segments, and the type a file's
// name is given: tables of URLs and names, and the properties every name must have.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "url/local_path.h"
#include "url/site_hosts.h"

namespace tandril {
namespace {

std::string PathOf(const LocalName& n) {
    return (n.localDir == "/" ? std::string() : n.localDir) + n.fileName;
}

TEST(LocalName, UrlsAndTheNamesTheyGet) {
    struct Case {
        const char* url;
        const char* path;  // below the download directory
    } cases[] = {
        {"http://h/doku.php?id=wiki:syntax", "doku.php@id=wiki%3Asyntax"},
        {"http://h/index.php?title=Main_Page", "index.php@title=Main_Page"},
        {"http://h/?p=123", "index.htm@p=123"},
        {"http://h/blog/?p=123", "blog/index.htm@p=123"},
        {"http://h/products?page=2", "products@page=2"},
        {"http://h/forum/viewtopic.php?t=5&start=10", "forum/viewtopic.php@t=5&start=10"},
        {"http://h/style.css?ver=6.1", "style.css@ver=6.1"},
        {"http://h/load.php?modules=a|b&only=styles", "load.php@modules=a%7Cb&only=styles"},
        {"http://h/s?q=a%20b%C3%A9", "s@q=a b\xC3\xA9"},
        {"http://h/s?q=a%26b", "s@q=a%2526b"},
        {"http://h/s?q=%41", "s@q=A"},
        {"http://h/s?path=a/b", "s@path=a%2Fb"},
        {"http://h/a.php?", "a.php@"},
        {"http://h/img/logo@2x.png", "img/logo%402x.png"},
        {"http://h/user@home/", "user@home/index.htm"},
        {"http://h/a%3Fb.html", "a%3Fb.html"},
        {"http://h/100%25.html", "100%25.html"},
        {"http://h/a%2Fb.html", "a%2Fb.html"},
        {"http://h/x/a:b*c.html", "x/a%3Ab%2Ac.html"},
        {"http://h/q%22%3C%3E%7C%5C.txt", "q%22%3C%3E%7C%5C.txt"},
        {"http://h/con.txt", "%63on.txt"},
        {"http://h/CON/x.html", "%43ON/x.html"},
        {"http://h/lpt1.html", "%6Cpt1.html"},
        {"http://h/console.html", "console.html"},
        {"http://h/dots./x.html", "dots%2E/x.html"},
        {"http://h/file.", "file%2E"},
        {"http://h/sp%20/x.html", "sp%20/x.html"},
        {"http://h/caf%E9.html", "caf%E9.html"},
        {"http://h/caf%C3%A9.html", "caf\xC3\xA9.html"},
        {"http://h/a%0Ab.html", "a%0Ab.html"},
        {"http://h/a/../../b.html", "b.html"},
        {"http://h/a/%2E%2E/b.html", "b.html"},
        {"http://h/docs/guide", "docs/guide/index.htm"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PathOf(LocalNameForUrl(c.url)), c.path) << c.url;
}

// Checked here without the naming code: what Windows, macOS and Linux all accept.
bool IsPortableSegment(const std::string& s) {
    if (s.empty() || s.size() > kMaxSegmentBytes || s.back() == '.' || s.back() == ' ')
        return false;
    for (unsigned char c : s) {
        if (c < 0x20 || c == 0x7F ||
            std::string("\\:*?\"<>|/").find(static_cast<char>(c)) != std::string::npos)
            return false;
    }
    std::string stem = s.substr(0, s.find('.'));
    for (char& c : stem)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const char* reserved : {"con", "prn", "aux", "nul", "com1", "com9", "lpt1", "lpt9"})
        if (stem == reserved)
            return false;
    // Valid UTF-8 (macOS refuses anything else).
    for (std::size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        const std::size_t n = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 0;
        if (n == 0 || i + n > s.size())
            return false;
        for (std::size_t k = 1; k < n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80)
                return false;
        i += n;
    }
    return true;
}

std::vector<std::string> Segments(const std::string& path) {
    std::vector<std::string> out;
    std::size_t pos = 0;
    while (pos <= path.size()) {
        std::size_t end = path.find('/', pos);
        if (end == std::string::npos)
            end = path.size();
        out.push_back(path.substr(pos, end - pos));
        pos = end + 1;
    }
    return out;
}

TEST(LocalName, EveryNameIsDistinctStableAndValidEverywhere) {
    const std::string longWord(300, 'w');
    const std::string longUtf8 = [] {
        std::string s;
        for (int i = 0; i < 150; ++i)
            s += "\xC3\xA9";
        return s;
    }();
    // Distinct URLs (no two of them aliases such as /a and /a/ of one file).
    const std::vector<std::string> urls = {
        "http://h/a.php?x=1",
        "http://h/a.php?x=2",
        "http://h/a.php",
        "http://h/a.php?",
        "http://h/a.php@x=1",
        "http://h/a.php%3Fx=1",
        "http://h/a.php?x=1.html",
        "http://h/?p=1",
        "http://h/index.htm?p=2",
        "http://h/index?p=1",
        "http://h/x?y",
        "http://h/x@y.z",
        "http://h/a%3Fb.html",
        "http://h/a%253Fb.html",
        "http://h/a%2Fb.html",
        "http://h/a/b.html",
        "http://h/100%25.html",
        "http://h/100%2525.html",
        "http://h/con.txt",
        "http://h/file.",
        "http://h/" + longWord + ".html",
        "http://h/" + longWord + "x.html",
        "http://h/d/" + longWord + "/a.html",
        "http://h/d/" + longWord + "y/a.html",
        "http://h/s?q=" + longWord,
        "http://h/s?q=" + longWord + "z",
        "http://h/" + longUtf8 + ".txt",
        "http://h/" + longUtf8 + "e.txt",
        "http://h/caf%E9.html",
        "http://h/caf%C3%A9.html",
        "http://h/a%0Ab.html",
        "http://h/q?a=b%26c",
        "http://h/q?a=b&c",
        "http://h/trail ",
        "http://h/trail",
    };
    std::set<std::string> seen;
    for (const std::string& url : urls) {
        const LocalName base = LocalNameForUrl(url);
        EXPECT_EQ(base, LocalNameForUrl(url)) << url;  // the same in every run
        EXPECT_TRUE(seen.insert(PathOf(base)).second) << url << " -> " << PathOf(base);
        for (FileType type : {FileType::Other, FileType::Html, FileType::Stylesheet}) {
            const std::string path = PathOf(TypedLocalName(base, type));
            for (const std::string& segment : Segments(path))
                EXPECT_TRUE(IsPortableSegment(segment)) << url << " -> " << path;
        }
    }
    // Escapes of bytes that mean the same written or escaped name one file, as in a
    // browser; so do the forms of a directory.
    const std::vector<std::pair<std::string, std::string>> aliases = {
        {"http://h/%63on.txt", "http://h/con.txt"},
        {"http://h/file%2E", "http://h/file."},
        {"http://h/x%40y.z", "http://h/x@y.z"},
        {"http://h/s?q=%41", "http://h/s?q=A"},
        {"http://h/d", "http://h/d/"},
        {"http://h/d/index.htm", "http://h/d/"},
    };
    for (const auto& [a, b] : aliases)
        EXPECT_EQ(LocalNameForUrl(a), LocalNameForUrl(b)) << a;
    // Typed names of query URLs stay apart from each other and from plain names.
    std::set<std::string> typed;
    for (const std::string& url : urls) {
        if (url.find('?') == std::string::npos)
            continue;
        const LocalName base = LocalNameForUrl(url);
        for (FileType type : {FileType::Html, FileType::Stylesheet})
            EXPECT_TRUE(typed.insert(PathOf(TypedLocalName(base, type))).second) << url;
    }
}

TEST(LocalName, OtherHostsHaveAFolderEachThatNoSitePathCanTake) {
    struct Case {
        const char* url;
        const char* path;
    } cases[] = {
        {"https://cdn.example.net/lib/a.js", "%offsite/cdn.example.net/lib/a.js"},
        {"http://CDN.example.net:80/a.js", "%offsite/cdn.example.net/a.js"},
        {"https://cdn.example.net:8443/f.woff2?v=1", "%offsite/cdn.example.net%3A8443/f.woff2@v=1"},
        {"http://127.0.0.1:8081/s.css", "%offsite/127.0.0.1%3A8081/s.css"},
        {"https://fonts.example.com/css?family=Roboto",
         "%offsite/fonts.example.com/css@family=Roboto"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PathOf(OffsiteLocalName(ParseUriRef(c.url))), c.path) << c.url;
    // A site path that looks the same is escaped.
    EXPECT_EQ(PathOf(LocalNameForUrl("http://h/%25offsite/cdn.example.net/lib/a.js")),
              "%25offsite/cdn.example.net/lib/a.js");
}

TEST(LocalName, TheTypeDecidesTheEnding) {
    struct Case {
        const char* url;
        bool hyperlink;
        FileType predicted;
        const char* contentType;
        FileType served;
        const char* saved;
    } cases[] = {
        {"http://h/about.php", true, FileType::Html, "text/html; charset=utf-8", FileType::Html,
         "about.php.html"},
        {"http://h/doku.php?id=start", true, FileType::Html, "text/html", FileType::Html,
         "doku.php@id=start.html"},
        {"http://h/page.html", true, FileType::Html, "text/html", FileType::Html, "page.html"},
        {"http://h/PAGE.HTM", true, FileType::Html, "", FileType::Html, "PAGE.HTM"},
        {"http://h/about", true, FileType::Html, "text/html", FileType::Html, "about/index.htm"},
        {"http://h/x.xhtml", true, FileType::Html, "application/xhtml+xml", FileType::Html,
         "x.xhtml.html"},
        {"http://h/style.php?v=2", false, FileType::Other, "text/css", FileType::Stylesheet,
         "style.php@v=2.css"},
        {"http://h/style.css?ver=6.1", false, FileType::Stylesheet, "text/css",
         FileType::Stylesheet, "style.css@ver=6.1.css"},
        {"http://h/s.css", false, FileType::Stylesheet, "", FileType::Stylesheet, "s.css"},
        {"http://h/download.php?id=5", true, FileType::Html, "application/pdf", FileType::Other,
         "download.php@id=5"},
        {"http://h/logo.png", false, FileType::Other, "image/png", FileType::Other, "logo.png"},
        {"http://h/data.json", true, FileType::Other, "text/html", FileType::Html,
         "data.json.html"},
        {"http://h/page.html", true, FileType::Html, "text/plain", FileType::Other, "page.html"},
        {"http://h/default.aspx", true, FileType::Html, "TEXT/HTML", FileType::Html,
         "default.aspx.html"},
        {"http://h/x.jsp", false, FileType::Other, "image/gif", FileType::Other, "x.jsp"},
    };
    for (const auto& c : cases) {
        const LocalName base = LocalNameForUrl(c.url);
        EXPECT_EQ(PredictFileType(base, c.hyperlink), c.predicted) << c.url;
        EXPECT_EQ(FileTypeOf(c.contentType, base), c.served) << c.url;
        EXPECT_EQ(PathOf(TypedLocalName(base, c.served)), c.saved) << c.url;
    }
}

TEST(LocalName, WhereALinkInASavedPageLeads) {
    const LocalName page{"intro.html", "docs/guide/"};
    struct Case {
        const char* value;
        const char* file;
    } cases[] = {
        {"a.html", "docs/guide/a.html"},
        {"a.html#x", "docs/guide/a.html"},
        {"../api/", "docs/api/index.htm"},
        {"sub/index.htm", "docs/guide/sub/index.htm"},
        {"a.php%40x=1.html", "docs/guide/a.php@x=1.html"},
        {"logo%25402x.png", "docs/guide/logo%402x.png"},
        {"file:///m/docs/x.php.html", "docs/x.php.html"},
        {"file:///m/docs/a%2540b.html#top", "docs/a%40b.html"},
        {"file:///elsewhere/x.html", ""},
        {"../../../x.html", ""},
        {"http://h/x.html", ""},
        {"/x.html", ""},
        {"x.html?y", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(LocalFileOfLink(c.value, page, "/m/"), c.file) << c.value;
}

TEST(SiteHosts, WwwIsTheSameSite) {
    struct Case {
        const char* a;
        const char* b;
        bool same;
    } cases[] = {
        {"example.com", "example.com", true},          {"www.example.com", "example.com", true},
        {"example.com", "www.example.com", true},      {"www2.example.com", "example.com", false},
        {"www.www.example.com", "example.com", false}, {"wwwexample.com", "example.com", false},
        {"cdn.example.com", "example.com", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SameSiteHost(c.a, c.b), c.same) << c.a << " " << c.b;
    CSiteHosts site;
    site.Reset({"www.example.com", "https", 443});
    EXPECT_TRUE(site.Contains(ParseUriRef("http://example.com/x")));
    EXPECT_TRUE(site.Contains(ParseUriRef("https://EXAMPLE.com/x")));
    EXPECT_FALSE(site.Contains(ParseUriRef("https://example.com:8443/x")));
    EXPECT_FALSE(site.Contains(ParseUriRef("https://static.example.com/x")));
}

}  // namespace
}  // namespace tandril
