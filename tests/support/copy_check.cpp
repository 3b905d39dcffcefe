#include "tests/support/copy_check.h"

#include <filesystem>

#include "css/css_reader.h"
#include "html/html_scanner.h"
#include "tests/support/test_support.h"
#include "url/uri.h"
#include "url/url_text.h"

namespace tandril::test {
namespace {

class Collect : public ScanSink {
public:
    void Write(const char*, std::size_t) override {}
    void Link(std::string& value, int, std::uint64_t) override { values.push_back(value); }
    std::vector<std::string> values;
};

bool EndsWith(const std::string& text, const char* tail) {
    const std::string t = tail;
    return text.size() >= t.size() && text.compare(text.size() - t.size(), t.size(), t) == 0;
}

// Percent-decoding as a browser applies it to a file URL's path.
std::string DecodeAll(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && std::isxdigit(text[i + 1]) &&
            std::isxdigit(text[i + 2])) {
            out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

}  // namespace

std::set<std::string> ReachablePages(const std::string& dir, const std::string& start) {
    std::set<std::string> reached{start};
    std::vector<std::string> todo{start};
    while (!todo.empty()) {
        const std::string page = todo.back();
        todo.pop_back();
        const std::string text = ReadFile(dir + page);
        Collect found;
        HtmlScanner scanner;
        scanner.Feed(text.data(), text.size(), found);
        scanner.Finish(found);
        const UriRef base = ParseUriRef("file://" + EncodeLocalPath(dir + page));
        for (const std::string& value : found.values) {
            const UriRef target = Resolve(base, ParseUriRef(value));
            if (target.scheme != "file")
                continue;
            const std::string local = DecodeAll(target.path);
            if (local.compare(0, dir.size(), dir) != 0 || !std::filesystem::is_regular_file(local))
                continue;
            const std::string name = local.substr(dir.size());
            if ((EndsWith(name, ".html") || EndsWith(name, ".htm")) && reached.insert(name).second)
                todo.push_back(name);
        }
    }
    return reached;
}

CopyReport CheckCopy(const std::string& dir, const std::string& liveRoot) {
    CopyReport report;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
        const std::string path = entry.path().string();
        const bool css = EndsWith(path, ".css");
        if (!entry.is_regular_file() || !(css || EndsWith(path, ".html") || EndsWith(path, ".htm")))
            continue;
        const std::string text = ReadFile(path);
        Collect found;
        if (css) {
            CssReader reader;
            reader.Feed(text.data(), text.size(), found);
            reader.Finish(found);
        } else {
            HtmlScanner scanner;
            scanner.Feed(text.data(), text.size(), found);
            scanner.Finish(found);
        }
        const std::string name = path.substr(dir.size());
        const UriRef base = ParseUriRef("file://" + EncodeLocalPath(path));
        for (const std::string& value : found.values) {
            if (value.compare(0, liveRoot.size(), liveRoot) == 0) {
                report.live.push_back(name + ": " + value);
                continue;
            }
            if (value.empty() || value[0] == '#' || value[0] == '?')
                continue;
            UriRef target = Resolve(base, ParseUriRef(value));
            if (target.scheme != "file")
                continue;
            ++report.references;
            const std::string local = DecodeAll(target.path);
            if (!std::filesystem::is_regular_file(local))
                report.missing.push_back(name + ": " + value);
        }
    }
    return report;
}

}  // namespace tandril::test
