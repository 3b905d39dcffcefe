#include "css/css_reader.h"
#include "css/css_fallbacks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "html/value_readers.h"

namespace tandril {
namespace {

// Feeds a document in pieces; every reference is put in brackets (or left alone).
class Recorder : public ScanSink {
public:
    explicit Recorder(bool bracket) : m_bracket(bracket) {}
    void Write(const char* data, std::size_t size) override { output.append(data, size); }
    void Link(std::string& value, int kind, std::uint64_t offset) override {
        EXPECT_EQ(kind, 1);
        values.push_back(value);
        offsets.push_back(offset);
        if (m_bracket)
            value = "[" + value + "]";
    }
    std::string output;
    std::vector<std::string> values;
    std::vector<std::uint64_t> offsets;

private:
    bool m_bracket;
};

Recorder Read(const std::string& css, std::size_t piece, bool bracket = true) {
    Recorder r(bracket);
    CssReader reader;
    for (std::size_t pos = 0; pos < css.size(); pos += piece)
        reader.Feed(css.data() + pos, std::min(piece, css.size() - pos), r);
    reader.Finish(r);
    return r;
}

struct CssCase {
    const char* css;
    std::vector<std::string> values;
    const char* output;  // each value in brackets
};

const CssCase kCases[] = {
    {"a{background:url(x.png)}", {"x.png"}, "a{background:url([x.png])}"},
    {"a{b:url( 'x y.png' )}", {"x y.png"}, "a{b:url( '[x y.png]' )}"},
    {"a{b:URL(\"q.png\")}", {"q.png"}, "a{b:URL(\"[q.png]\")}"},
    {"a{b:url(  x.png  )}", {"x.png"}, "a{b:url(  [x.png]  )}"},
    {"@import \"a.css\";", {"a.css"}, "@import \"[a.css]\";"},
    {"@import 'a.css' screen;", {"a.css"}, "@import '[a.css]' screen;"},
    {"@IMPORT url(b.css);@import url(\"c.css\")",
     {"b.css", "c.css"},
     "@IMPORT url([b.css]);@import url(\"[c.css]\")"},
    // Escapes are decoded; a changed value is written escaped again.
    {"a{b:url(a\\(1\\).png)}", {"a(1).png"}, "a{b:url([a\\(1\\).png])}"},
    {"a{b:url(\"a\\\"b.png\")}", {"a\"b.png"}, "a{b:url(\"[a\\\"b.png]\")}"},
    {"a{b:url(\\66 oo.png)}", {"foo.png"}, "a{b:url([foo.png])}"},
    {"a{b:url(\"long\\\nname.png\")}", {"longname.png"}, "a{b:url(\"[longname.png]\")}"},
    // Comments, strings and names that only look like references.
    {"/* url(no.png) */a{b:url(yes.png)}", {"yes.png"}, "/* url(no.png) */a{b:url([yes.png])}"},
    {"a{content:\"url(no.png)\"}", {}, "a{content:\"url(no.png)\"}"},
    {"a{b:myurl(no.png) -url(no) _url(no)}", {}, "a{b:myurl(no.png) -url(no) _url(no)}"},
    {"@importx 'no.css'; @media url(y)", {"y"}, "@importx 'no.css'; @media url([y])"},
    {"a{b:url()}", {}, "a{b:url()}"},
    {"a{b:url(data:image/png;base64,AA==)}",
     {"data:image/png;base64,AA=="},
     "a{b:url([data:image/png;base64,AA==])}"},
    // Bad URLs name nothing, and what follows them is read again.
    {"a{b:url(x y) c:url(z)}", {"z"}, "a{b:url(x y) c:url([z])}"},
    {"a{b:url(x\"y) c:url(z)}", {"z"}, "a{b:url(x\"y) c:url([z])}"},
    {"a{b:url('x'y) c:url(z)}", {"z"}, "a{b:url('x'y) c:url([z])}"},
    {"a{b:url('x\ny') c:url(z)}", {"z"}, "a{b:url('x\ny') c:url([z])}"},
    // Unterminated at the end of the document: out as it stands.
    {"a{b:url(x.png", {}, "a{b:url(x.png"},
    {"a{b:url('x.png", {}, "a{b:url('x.png"},
    {"@import 'a.css", {}, "@import 'a.css"},
    {"a{b:\"open", {}, "a{b:\"open"},
    {"/* open", {}, "/* open"},
    {"@\"\"\"\"/*url(o)", {}, "@\"\"\"\"/*url(o)"},  // found by fuzzing: "@" then a comment
    {"@x/*url(o)*/url(p)", {"p"}, "@x/*url(o)*/url([p])"},
    {"\\:url(\\\\)", {}, "\\:url(\\\\)"},  // found by fuzzing: an escape starts a name
    {"@font-face{src:url(f.woff2) format('woff2'),url(f.woff)}",
     {"f.woff2", "f.woff"},
     "@font-face{src:url([f.woff2]) format('woff2'),url([f.woff])}"},
};

TEST(CssReader, References) {
    for (const auto& c : kCases) {
        Recorder r = Read(c.css, 4096);
        EXPECT_EQ(r.values, c.values) << c.css;
        EXPECT_EQ(r.output, c.output) << c.css;
    }
}

TEST(CssReader, OffsetsPointAtTheValue) {
    Recorder r = Read("a{b:url(x.png)} @import \"y.css\"", 3);
    EXPECT_EQ(r.offsets, (std::vector<std::uint64_t>{8, 24}));
}

TEST(CssReader, EveryBoundaryGivesTheSameResult) {
    std::string all;
    for (const auto& c : kCases)
        all += std::string(c.css) + "}\n";
    const Recorder whole = Read(all, all.size());
    ASSERT_FALSE(whole.values.empty());
    for (std::size_t split = 1; split < all.size(); ++split) {
        Recorder r(true);
        CssReader reader;
        reader.Feed(all.data(), split, r);
        reader.Feed(all.data() + split, all.size() - split, r);
        reader.Finish(r);
        ASSERT_EQ(r.values, whole.values) << split;
        ASSERT_EQ(r.output, whole.output) << split;
    }
    const Recorder bytes = Read(all, 1);
    EXPECT_EQ(bytes.values, whole.values);
    EXPECT_EQ(bytes.output, whole.output);
}

TEST(CssReader, OneMebibyteValuesAndBoundedMemory) {
    const std::string value(kMaxLinkValue, 'v');
    Recorder fits = Read("a{b:url(" + value + ")}", 4096);
    ASSERT_EQ(fits.values.size(), 1u);
    EXPECT_EQ(fits.values[0].size(), kMaxLinkValue);

    const std::string huge(3 * kMaxLinkValue, 'w');
    const std::string css = "a{b:url('" + huge + "')} c{d:url(after.png)}";
    Recorder r(false);
    CssReader reader;
    std::size_t largest = 0;
    for (std::size_t pos = 0; pos < css.size(); pos += 4096) {
        reader.Feed(css.data() + pos, std::min<std::size_t>(4096, css.size() - pos), r);
        largest = std::max(largest, reader.HeldBytes());
    }
    reader.Finish(r);
    EXPECT_EQ(r.values, std::vector<std::string>{"after.png"});
    EXPECT_EQ(r.output, css);
    EXPECT_LE(largest, kMaxLinkValue + 64 + 4096);
}

// Identity: with a sink that changes nothing, the document comes out byte for byte.
TEST(CssReader, IdentityOnArbitraryBytes) {
    const char* tokens[] = {"url(", "URL(",  ")", "'", "\"", "\\", "/*",   "*/", "@import", " ",
                            "\n",   "x.png", "u", "@", "(",  ";",  "\xff", "a",  "}"};
    std::mt19937 rng(777);
    for (int round = 0; round < 400; ++round) {
        std::string css;
        const int pieces = 1 + static_cast<int>(rng() % 300);
        for (int i = 0; i < pieces; ++i)
            css += rng() % 5 == 0 ? std::string(1, static_cast<char>(rng() % 256))
                                  : std::string(tokens[rng() % std::size(tokens)]);
        Recorder r = Read(css, 1 + rng() % 200, false);
        ASSERT_EQ(r.output, css) << round;
    }
}

TEST(ValueReaders, Srcset) {
    struct Case {
        const char* value;
        std::vector<std::string> urls;
    } cases[] = {
        {"a.png", {"a.png"}},
        {"a.png 1x, b.png 2x", {"a.png", "b.png"}},
        {"  a.png  480w ,b.png 1x,c.png 2x", {"a.png", "b.png", "c.png"}},
        // A comma inside a URL belongs to it; only trailing ones end a candidate.
        {"a.png,b.png", {"a.png,b.png"}},
        {"a.png, b.png", {"a.png", "b.png"}},
        {"data:image/png;base64,AA== 1x, b.png 2x", {"data:image/png;base64,AA==", "b.png"}},
        {"a.png (max-width: 5px, 6px) 1x, b.png", {"a.png", "b.png"}},
        {", ,", {}},
        {"", {}},
        {"a,b,, c", {"a,b", "c"}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> urls;
        const std::string value = c.value;
        for (const ValueRange& r : ReadSrcset(value))
            urls.push_back(value.substr(r.start, r.size));
        EXPECT_EQ(urls, c.urls) << c.value;
    }
}

TEST(ValueReaders, RefreshContent) {
    struct Case {
        const char* content;
        const char* url;  // null: none
    } cases[] = {
        {"5; url=next.html", "next.html"},
        {"0;URL='a b.html'", "a b.html"},
        {"3, x.html", "x.html"},
        {"1; url = \"q.html\" ", "q.html"},
        {"10", nullptr},
        {"5;  ", nullptr},
        {"0; urlish.html", "urlish.html"},
        {"2.5;url=z.html", "z.html"},
    };
    for (const auto& c : cases) {
        const std::string content = c.content;
        auto r = ReadRefreshUrl(content);
        if (c.url == nullptr) {
            EXPECT_FALSE(r.has_value()) << c.content;
        } else {
            ASSERT_TRUE(r.has_value()) << c.content;
            EXPECT_EQ(content.substr(r->start, r->size), c.url);
        }
    }
}

}  // namespace
}  // namespace tandril

namespace tandril {
namespace {

// The values of the references that a fallback finder names, the document fed in pieces.
std::vector<std::string> Fallbacks(const std::string& css, std::size_t piece) {
    const Recorder all = Read(css, css.size() + 1, false);
    CssFallbackFinder finder;
    for (std::size_t pos = 0; pos < css.size(); pos += piece)
        finder.Feed(css.data() + pos, std::min(piece, css.size() - pos));
    std::vector<std::string> values;
    for (std::uint64_t offset : finder.Finish()) {
        const auto at = std::find(all.offsets.begin(), all.offsets.end(), offset);
        values.push_back(at == all.offsets.end() ? "?" : all.values[at - all.offsets.begin()]);
    }
    return values;
}

TEST(CssFallbacks, OnlyWhatALaterPlainDeclarationReplacesIsNamed) {
    using V = std::vector<std::string>;
    const struct {
        const char* css;
        V fallbacks;
    } kCases[] = {
        // MediaWiki's icons: a PNG, then an SVG behind a gradient.
        {".i{background-image:url(a.png);background-image:linear-gradient(transparent,"
         "transparent),url(a.svg)}",
         V{"a.png"}},
        {".i { Background-Image : url('a.png') ;\n  background-image: url(\"a.svg\") }",
         V{"a.png"}},
        // Three of one property: the last replaces both.
        {"a{background:url(1);background:url(2);background:url(3) no-repeat}", V{"1", "2"}},
        // A later value that a browser might reject replaces nothing.
        {"a{background:url(a.png);background:-webkit-image-set(url(a.svg) 1x)}", V{}},
        {"a{background:url(a.png);background:image-set(url(a.svg) 1x)}", V{}},
        {"a{background:url(a.png);background:url(b.png)\\9}", V{}},
        // ...until a plain one comes.
        {"a{background:url(a);background:-moz-element(#x);background:url(c)}", V{"a"}},
        // Weights are not compared.
        {"a{background:url(a) !important;background:url(b)}", V{}},
        {"a{background:url(a);background:url(b)!important}", V{}},
        // Other properties, other blocks, old browsers' hacks.
        {"a{background:url(a)}a{background:url(b)}", V{}},
        {"a{background:url(a);background-image:url(b)}", V{}},
        {"a{*background:url(a);background:url(b)}", V{}},
        {"a{background:url(a);*background:url(b)}", V{}},
        // Nested blocks keep their own declarations.
        {"@media screen{a{list-style:url(a)}b{list-style:url(b)}}", V{}},
        {"@media print{a{list-style:url(a);list-style:url(b)}}", V{"a"}},
        {"a{cursor:url(a),auto; b{cursor:url(b),auto} cursor:url(c),auto}", V{"a"}},
        {"a{x:url(a); b:hover{x:url(b)} x:url(c)}", V{"a"}},
        // What looks like structure inside strings, comments and URLs is not.
        {"a{content:\"};x:\";x:url(a);/* } x: */x:url(data:a;b{c}) }", V{"a"}},
        {"a{x:url(a);x:calc(1px + 2px) rgb(1,2,3)}", V{"a"}},
        // The classic font sources: the first src is for a browser of 2011 only.
        {"@font-face{font-family:F;src:url(f.eot);src:url(f.eot?#iefix) "
         "format('embedded-opentype'),local(F),url(f.woff2) format(\"woff2\")}",
         V{"f.eot"}},
        {"@font-face{src:url(f.woff);src:url(f.woff2) tech(variations)}", V{}},
        // References outside declarations.
        {"@import url(a.css);@import url(a.css);a{x:1}", V{}},
        {"url(a);url(b)", V{}},
        // Unbalanced and hostile text.
        {"}}a{x:url(a);x:url(b)", V{}},
        {"a{x:url(a);x:url(b);", V{"a"}},
    };
    for (const auto& c : kCases) {
        for (std::size_t piece :
             {std::size_t{1}, std::size_t{2}, std::size_t{5}, std::size_t{1000}})
            EXPECT_EQ(Fallbacks(c.css, piece), c.fallbacks) << c.css << " in pieces of " << piece;
    }
    // Blocks nested deeper than the finder follows name nothing and break nothing.
    std::string deep(5000, '{');
    deep += "x:url(a);x:url(b)";
    deep += std::string(5000, '}');
    deep += "a{x:url(c);x:url(d)}";
    EXPECT_EQ(Fallbacks(deep, 4096), V{"c"});
}

}  // namespace
}  // namespace tandril
