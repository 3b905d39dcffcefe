#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <random>

#include "engine/mirror_job.h"
#include "html/html_scanner.h"
#include "tests/support/scan_harness.h"
#include "tests/support/test_support.h"

namespace tandril {
namespace {

using test::ScanOutcome;
using Calls = std::vector<std::pair<std::string, int>>;

struct TagCase {
    const char* page;
    Calls calls;
    const char* output;  // with links modified and each value put in brackets
};

// The tag and attribute table: what each tag yields with links modified.
const TagCase kTagCases[] = {
    {"<a href=\"x.html\">t</a>", {{"x.html", 0}}, "<a href=\"[x.html]\">t</a>"},
    {"<A HREF=x.html>t", {{"x.html", 0}}, "<A HREF=[x.html]>t"},
    {"<iMg Src=\"p.gif\">", {{"p.gif", 1}}, "<iMg Src=\"[p.gif]\">"},
    {"<a name=\"n\" href=\"x\">", {{"x", 0}}, "<a name=\"n\" href=\"[x]\">"},
    // Attributes whose names begin like the wanted one are skipped whole.
    {"<a hreflang=\"en\" href=\"x\">", {{"x", 0}}, "<a hreflang=\"en\" href=\"[x]\">"},
    {"<a hidden href=x>", {{"x", 0}}, "<a hidden href=[x]>"},
    {"<link HEIGHT=3 rel=\"stylesheet\" href=\"s.css\">",
     {{"s.css", 1}},
     "<link HEIGHT=3 rel=\"stylesheet\" href=\"[s.css]\">"},
    {"<a title=\"hello here\" href=\"x\">", {{"x", 0}}, "<a title=\"hello here\" href=\"[x]\">"},
    {"<a title='a > b' href=\"x\">", {{"x", 0}}, "<a title='a > b' href=\"[x]\">"},
    {"<img srcset=\"a.png 2x\" src=\"b.png\">",
     {{"a.png", 1}, {"b.png", 1}},
     "<img srcset=\"[a.png] 2x\" src=\"[b.png]\">"},
    {"<img usemap=\"#m\" lowsrc=\"l.gif\" src=\"s.gif\">",
     {{"s.gif", 1}},
     "<img usemap=\"#m\" lowsrc=\"l.gif\" src=\"[s.gif]\">"},
    {"<td bgcolor=\"#fff\" background=\"bg.gif\">",
     {{"bg.gif", 1}},
     "<td bgcolor=\"#fff\" background=\"[bg.gif]\">"},
    {"<bgsound srx=\"a\" src=\"s.wav\">", {{"s.wav", 1}}, "<bgsound srx=\"a\" src=\"[s.wav]\">"},
    {"<bgsound sa=1 src=s.wav>", {{"s.wav", 1}}, "<bgsound sa=1 src=[s.wav]>"},
    {"<script language=\"js\" src=\"s.js\"></script>",
     {{"s.js", 1}},
     "<script language=\"js\" src=\"[s.js]\"></script>"},
    {"<frame src=\"f.html\"><iframe width=3 src='i.html'>",
     {{"f.html", 0}, {"i.html", 0}},
     "<frame src=\"[f.html]\"><iframe width=3 src='[i.html]'>"},
    {"<area shape=rect href=\"m.html\">", {{"m.html", 0}}, "<area shape=rect href=\"[m.html]\">"},
    {"<table background=t.gif><tr background=r.gif><th background=h.gif>",
     {{"t.gif", 1}, {"r.gif", 1}, {"h.gif", 1}},
     "<table background=[t.gif]><tr background=[r.gif]><th background=[h.gif]>"},
    {"<body bgcolor=white background=\"b.gif\">",
     {{"b.gif", 1}},
     "<body bgcolor=white background=\"[b.gif]\">"},
    {"<frameset src=a><basefont href=b><thead background=c><tbody background=d>"
     "<li href=f><address href=g><form href=h><div src=i>",
     {},
     "<frameset src=a><basefont href=b><thead background=c><tbody background=d>"
     "<li href=f><address href=g><form href=h><div src=i>"},
    // Indentation, line breaks and blanks around '=' never hide an attribute.
    {"<a\n   class=\"c d\"\n\thref = \"x\">",
     {{"x", 0}},
     "<a\n   class=\"c d\"\n\thref = \"[x]\">"},
    {"<a href='x y.html'>", {{"x y.html", 0}}, "<a href='[x y.html]'>"},
    {"<a href=\"it's.html\">", {{"it's.html", 0}}, "<a href=\"[it's.html]\">"},
    {"<img src=\"a\" src=\"b\">", {{"a", 1}}, "<img src=\"[a]\" src=\"b\">"},
    {"<a href=\"\">", {{"", 0}}, "<a href=\"[]\">"},
    {"<a href=a.htm b>", {{"a.htm", 0}}, "<a href=[a.htm] b>"},
    {"<a href=\"a > b\nc\">", {{"a > bc", 0}}, "<a href=\"[a > bc]\">"},
    {"<a>x</a><a/><img/src=x><a\thref>", {{"x", 1}}, "<a>x</a><a/><img/src=[x]><a\thref>"},
    {"< a href=x><<a href=y>", {{"y", 0}}, "< a href=x><<a href=[y]>"},
    // LINK: what REL names decides the kind, wherever REL stands.
    {"<link href=a.css rel=stylesheet><link rel=\"shortcut icon\" href=f.ico>"
     "<link rel=next href=n.html><link href=x><LINK REL=Preload HREF=p.js>"
     "<link rel='apple-touch-icon' href=t.png><link rel=manifest href=m.json>"
     "<link rel=\"alternate stylesheet\" href=alt.css><link rel=canonical href=c.html>"
     "<link rel=alternate type=application/x-wiki href=e.php><link rel=\"Search EditURI\" "
     "href=s.xml><link rel=\"alternate next\" href=n2.html>",
     {{"a.css", 1},
      {"f.ico", 1},
      {"n.html", 0},
      {"x", 0},
      {"p.js", 1},
      {"t.png", 1},
      {"m.json", 1},
      {"alt.css", 1},
      // Links about the page, which a reader is not led on by.
      {"c.html", 4},
      {"e.php", 4},
      {"s.xml", 4},
      {"n2.html", 0}},
     "<link href=[a.css] rel=stylesheet><link rel=\"shortcut icon\" href=[f.ico]>"
     "<link rel=next href=[n.html]><link href=[x]><LINK REL=Preload HREF=[p.js]>"
     "<link rel='apple-touch-icon' href=[t.png]><link rel=manifest href=[m.json]>"
     "<link rel=\"alternate stylesheet\" href=[alt.css]><link rel=canonical href=[c.html]>"
     "<link rel=alternate type=application/x-wiki href=[e.php]><link rel=\"Search EditURI\" "
     "href=[s.xml]><link rel=\"alternate next\" href=[n2.html]>"},
    // Values are read as a browser reads them; a rewritten one is written escaped.
    {"<img src=\"/pics/a&amp;b.gif\">",
     {{"/pics/a&b.gif", 1}},
     "<img src=\"[/pics/a&amp;b.gif]\">"},
    {"<a href=\" https://other.example/x \">",
     {{"https://other.example/x", 0}},
     "<a href=\"[https://other.example/x]\">"},
    {"<a href=\"a&#46;html&#x3F;q&lt;&quot;\">",
     {{"a.html?q<\"", 0}},
     "<a href=\"[a.html?q<&quot;]\">"},
    {"<a href='it&apos;s&nbsp;x&copy;.html'>",
     {{"it's\xC2\xA0x&copy;.html", 0}},
     "<a href='[it&#39;s\xC2\xA0x&amp;copy;.html]'>"},
    {"<a href=\"a\tb\r\n.html\">", {{"ab.html", 0}}, "<a href=\"[ab.html]\">"},
    // The newer tags, and more than one link in a tag.
    {"<img src=a.png srcset=\"b.png 2x, c d.png 3x,e.png\">",
     {{"a.png", 1}, {"b.png", 1}, {"c", 1}, {"e.png", 1}},
     "<img src=[a.png] srcset=\"[b.png] 2x, [c] d.png 3x,[e.png]\">"},
    {"<picture><source srcset=\"w.webp 1x, w2.webp 2x\" src=s.jpg></picture>",
     {{"w.webp", 1}, {"w2.webp", 1}, {"s.jpg", 1}},
     "<picture><source srcset=\"[w.webp] 1x, [w2.webp] 2x\" src=[s.jpg]></picture>"},
    {"<video src=v.mp4 poster=p.jpg><audio src=a.ogg><track src=t.vtt><embed src=e.swf>"
     "<object data=d.svg><input type=image src=i.png>",
     {{"v.mp4", 1},
      {"p.jpg", 1},
      {"a.ogg", 1},
      {"t.vtt", 1},
      {"e.swf", 1},
      {"d.svg", 1},
      {"i.png", 1}},
     "<video src=[v.mp4] poster=[p.jpg]><audio src=[a.ogg]><track src=[t.vtt]>"
     "<embed src=[e.swf]><object data=[d.svg]><input type=image src=[i.png]>"},
    {"<meta http-equiv=\"Refresh\" content=\"5; url=next.html\"><meta content=\"0;url=x\">",
     {{"next.html", 0}},
     "<meta http-equiv=\"Refresh\" content=\"5; url=[next.html]\"><meta content=\"0;url=x\">"},
    {"<div style=\"background: url(bg.png)\"><p STYLE='x:url(&quot;q.png&quot;)'>",
     {{"bg.png", 1}, {"q.png", 1}},
     "<div style=\"background: url([bg.png])\"><p STYLE='x:url(\"[q.png]\")'>"},
    {"<style>@import \"a.css\"; b{background:url(b.png)}</style><a href=x>",
     {{"a.css", 1}, {"b.png", 1}, {"x", 0}},
     "<style>@import \"[a.css]\"; b{background:url([b.png])}</style><a href=[x]>"},
    {"<STYLE type=text/css>p{}</stylex>url(s.png)</STYLE >url(t.png)",
     {{"s.png", 1}},
     "<STYLE type=text/css>p{}</stylex>url([s.png])</STYLE >url(t.png)"},
    {"<a href=x<img src=y>", {{"x<img", 0}}, "<a href=[x<img] src=y>"},
    // A value still open when the page ends is kept as it stands.
    {"<a href=\"abc", {}, "<a href=\"abc"},
    {"<a href=abc", {}, "<a href=abc"},
    {"<a title=\"x", {}, "<a title=\"x"},
};

class Scanner : public ::testing::Test {
protected:
    ScanOutcome Scan(const std::string& page, std::vector<std::size_t> chunks = {4096},
                     std::string (*rewrite)(const std::string&, int) = test::Bracket) {
        return test::ScanPage(job, tmp.Path(), page, chunks, rewrite);
    }
    test::CTempDir tmp;
    CMirrorJob job;
};

TEST_F(Scanner, TagTable) {
    for (const auto& c : kTagCases) {
        ScanOutcome out = Scan(c.page);
        EXPECT_EQ(out.calls, c.calls) << c.page;
        EXPECT_EQ(out.output, c.output) << c.page;
    }
}

TEST_F(Scanner, CopyOnlyFindsTheSameLinksAndWritesNothing) {
    job.m_limits.m_bModifyLinks = false;
    for (const auto& c : kTagCases) {
        ScanOutcome out = Scan(c.page);
        EXPECT_EQ(out.calls, c.calls) << c.page;
        EXPECT_EQ(out.output, "");
    }
}

TEST_F(Scanner, BaseHrefPointsAtThePagesOwnDirectory) {
    ScanOutcome top = Scan("<base target=_top href=\"http://x/\"><a href=y>");
    EXPECT_EQ(top.output, "<base target=_top href=\"file://" + tmp.Path() + "\"><a href=[y]>");
    EXPECT_EQ(top.calls, (Calls{{"y", 0}}));

    // The harness clears the local directory; set it through the job's own field.
    job.m_pfnLinkHook = nullptr;
    test::ScanOutcome deep;
    {
        job.m_strLocalDir = "docs/guide/";
        job.m_strTargetDir = tmp.Path();
        auto out = std::make_unique<CFile>();
        ASSERT_TRUE(out->OpenForWrite(tmp.Path() + "base-out"));
        job.m_pass.m_pOutFile = std::move(out);
        job.ResetScan();
        const std::string page = "<BASE HREF='http://x/a/'>";
        ASSERT_EQ(job.ScanBytes(page.data(), page.size()), 1);
        job.m_pass.m_pOutFile->Close();
        job.m_pass.m_pOutFile.reset();
    }
    EXPECT_EQ(test::ReadFile(tmp.Path() + "base-out"),
              "<BASE HREF='file://" + tmp.Path() + "docs/guide/'>");

    EXPECT_EQ(Scan("<base href=http://x/>").output, "<base href=http://x/>");
    job.m_limits.m_bModifyLinks = false;
    EXPECT_TRUE(Scan("<base href=\"http://x/\">").calls.empty());
}

std::vector<std::string> BoundaryPages() {
    std::vector<std::string> pages;
    std::string all;
    for (const auto& c : kTagCases)
        all += std::string(c.page) + "\n";
    pages.push_back(all);
    pages.push_back(
        "<html>\n<body background=\"bg.gif\">\n  <a   href =\n 'one.html' >1</a>"
        "<img\r\n src=two.gif alt=\"x y\"><bgsound src=\"s.mid\"></body>");
    return pages;
}

TEST_F(Scanner, ChunkBoundariesNeverChangeTheResult) {
    for (const std::string& page : BoundaryPages()) {
        ScanOutcome whole = Scan(page, {page.size()});
        ASSERT_FALSE(whole.calls.empty());
        for (std::size_t split = 1; split < page.size(); ++split) {
            ScanOutcome two = Scan(page, {split, page.size()});
            ASSERT_EQ(two.calls, whole.calls) << "split at " << split;
            ASSERT_EQ(two.output, whole.output) << "split at " << split;
        }
        ScanOutcome bytes = Scan(page, {1});
        EXPECT_EQ(bytes.calls, whole.calls);
        EXPECT_EQ(bytes.output, whole.output);
    }
}

TEST_F(Scanner, ValuesLongerThanAChunkAreCollectedWhole) {
    std::string value(10000, 'v');
    value += ".html";
    std::string page = "<p>text</p><a href=\"" + value + "\">x</a>";
    ScanOutcome out = Scan(page);
    ASSERT_EQ(out.calls.size(), 1u);
    EXPECT_EQ(out.calls[0].first, value);
    EXPECT_EQ(out.output, "<p>text</p><a href=\"[" + value + "]\">x</a>");
}

TEST_F(Scanner, OverlongValuesAreCopiedAndMemoryStaysBounded) {
    std::string value(3 * 1024 * 1024, 'v');
    std::string page = "<a href=\"" + value + "\">x</a><img src=after.gif>";
    ScanOutcome out = Scan(page, {4096}, nullptr);
    ASSERT_EQ(out.calls.size(), 1u);
    EXPECT_EQ(out.calls[0].first, "after.gif");
    EXPECT_EQ(out.output, page);
    EXPECT_LE(out.largestCarry, HtmlScanner::kMaxTagBytes + CMirrorJob::kBufferSize);

    std::string bare = "<a href=" + value + " next><img src=a.gif>";
    ScanOutcome bareOut = Scan(bare, {4096}, nullptr);
    EXPECT_EQ(bareOut.output, bare);
    EXPECT_EQ(bareOut.calls, (Calls{{"a.gif", 1}}));
}

// A value is handed on only when it is at most 1 MiB long, exactly.
TEST_F(Scanner, TheOneMebibyteBoundHoldsExactly) {
    for (std::size_t size : {kMaxLinkValue, kMaxLinkValue + 1}) {
        const std::string value(size, 'v');
        ScanOutcome out = Scan("<a href=\"" + value + "\"><img src=b.gif>", {4096}, nullptr);
        Calls expected{{"b.gif", 1}};
        if (size == kMaxLinkValue)
            expected.insert(expected.begin(), {value, 0});
        EXPECT_EQ(out.calls, expected) << size;
    }
}

// Identity: with link handling that changes nothing, the page comes out byte for byte.
TEST_F(Scanner, IdentityOnArbitraryBytes) {
    const char* tokens[] = {"<a ",      "<img ",
                            " href",    "src",
                            "=",        "\"",
                            "'",        ">",
                            "<",        " ",
                            "\n",       "x.html",
                            "<base ",   "background",
                            "\t",       "<BGSOUND ",
                            "<td ",     "\0",
                            "\x80",     "\xff",
                            "srcset",   "<style>",
                            "</style>", "url(",
                            ")",        "style=",
                            "@import ", "/*",
                            "*/",       "\\",
                            "&amp;",    "&#",
                            ";",        "<link rel=stylesheet ",
                            ","};
    std::mt19937 rng(12345);
    for (int round = 0; round < 300; ++round) {
        std::string page;
        int pieces = 1 + static_cast<int>(rng() % 400);
        for (int i = 0; i < pieces; ++i) {
            if (rng() % 4 == 0) {
                page += static_cast<char>(rng() % 256);
            } else {
                const char* t = tokens[rng() % (sizeof(tokens) / sizeof(tokens[0]))];
                page += t[0] == '\0' ? std::string(1, '\0') : std::string(t);
            }
        }
        std::size_t split = 1 + rng() % 97;
        ScanOutcome out = Scan(page, {split, 1 + rng() % 4096}, nullptr);
        ASSERT_EQ(out.output, page) << "round " << round;
    }
}

// Attributes are noted while a tag's end is searched for; a tag with very many is
// split again as a whole. Both readings must agree, on every kind of attribute syntax.
TEST_F(Scanner, TagsWithVeryManyAttributesReadTheSame) {
    const char* names[] = {"a", "img", "link", "meta", "td", "source", "p"};
    const char* pieces[] = {"href",       "src",   "srcset", "style",    "rel",     "content",
                            "http-equiv", "=",     " ",      "\t",       "/",       "\"",
                            "'",          "x.gif", "a b",    "1x, y 2x", "refresh", "stylesheet",
                            "url(u.png)", "HREF",  "==",     "&amp;"};
    std::string padding;
    for (std::size_t i = 0; i <= HtmlScanner::kMaxNotedAttributes; ++i)
        padding += "z ";
    padding += "/ ";  // so that a soup that begins with "=" gives z no value
    std::mt19937 rng(777);
    for (int round = 0; round < 2000; ++round) {
        std::string name = names[rng() % std::size(names)];
        std::string soup;
        for (int i = 0, n = 1 + static_cast<int>(rng() % 12); i < n; ++i)
            soup += pieces[rng() % std::size(pieces)];
        // Keep the quotes balanced so that both tags end at the same ">".
        for (char q : {'"', '\''}) {
            if (std::count(soup.begin(), soup.end(), q) % 2 != 0)
                soup += q;
        }
        const std::string tag = "<" + name + " " + soup + ">";
        const std::string many = "<" + name + " " + padding + soup + ">";
        ScanOutcome noted = Scan(tag + "<a href=next>");
        ScanOutcome split = Scan(many + "<a href=next>");
        ASSERT_EQ(split.calls, noted.calls) << tag;
        ASSERT_EQ(split.output.substr(0, name.size() + 2), "<" + name + " ");
        ASSERT_EQ(split.output.substr(name.size() + 2 + padding.size()),
                  noted.output.substr(name.size() + 2))
            << tag;
    }
}

// Only the first of repeated attributes counts, and a tag of a hundred thousand of
// them is read in one pass.
TEST_F(Scanner, RepeatedAttributesCountOnce) {
    EXPECT_EQ(Scan("<a href=1 HREF=2 href>").calls, (Calls{{"1", 0}}));
    EXPECT_EQ(Scan("<a href HREF=2>").calls, Calls{});
    EXPECT_EQ(Scan("<img src=a srcset=b SRCSET=c style=\"background:url(d)\" style=x src=e>").calls,
              (Calls{{"a", 1}, {"b", 1}, {"d", 1}}));
    std::string page = "<a";
    for (int i = 0; i < 100000; ++i)
        page += " href=" + std::to_string(i);
    page += ">";
    EXPECT_EQ(Scan(page).calls, (Calls{{"0", 0}}));
}

TEST_F(Scanner, WriteFailureIsReportedOnceAndStopsTheScan) {
    test::CMessageRecorder boxes;
    job.m_pfnLinkHook = [](std::string&, int) {};
    job.m_pass.m_pOutFile = std::make_unique<CFile>();
    ASSERT_TRUE(job.m_pass.m_pOutFile->OpenForWrite("/dev/full"));
    std::string page;
    while (page.size() < 3 * CFile::kWriteBuffer)
        page += "<p>text <a href=x.html>x</a></p>\n";
    std::size_t pos = 0;
    int result = 1;
    while (result == 1 && pos < page.size()) {
        std::size_t n = std::min(CMirrorJob::kBufferSize, page.size() - pos);
        result = job.ScanBytes(page.data() + pos, n);
        pos += n;
    }
    EXPECT_EQ(result, 0);
    EXPECT_LT(pos, page.size());
    ASSERT_EQ(boxes.Texts().size(), 1u);
    EXPECT_EQ(boxes.Texts()[0], "The disk is full.");
    job.m_pass.m_pOutFile.reset();
}

}  // namespace
}  // namespace tandril
