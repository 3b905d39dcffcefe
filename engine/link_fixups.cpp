#include "engine/link_fixups.h"

#include <memory>

#include "css/css_reader.h"
#include "html/html_scanner.h"
#include "platform/file.h"
#include "platform/fs.h"

namespace tandril {
namespace {

// Writes the page again with the corrected links; counts the changes.
class FixSink : public ScanSink {
public:
    FixSink(CFile& out, const LocalName& page, const std::vector<std::string>& from,
            const std::vector<std::string>& to, const std::string& targetDir)
        : m_out(out), m_page(page), m_from(from), m_to(to), m_targetDir(targetDir) {}
    void Write(const char* data, std::size_t size) override { m_out.Write(data, size); }
    void Link(std::string& value, int kind, std::uint64_t) override {
        if (kind == 2)
            return;
        const std::string file = LocalFileOfLink(value, m_page, m_targetDir);
        if (file.empty())
            return;
        for (std::size_t i = 0; i < m_from.size(); ++i) {
            if (file == m_from[i]) {
                const std::size_t hash = value.find('#');
                value = m_to[i] + (hash == std::string::npos ? "" : value.substr(hash));
                ++changes;
                return;
            }
        }
    }
    int changes = 0;

private:
    CFile& m_out;
    const LocalName& m_page;
    const std::vector<std::string>& m_from;
    const std::vector<std::string>& m_to;
    const std::string& m_targetDir;
};

}  // namespace

std::uint32_t CLinkFixups::AddPage(const LocalName& name, bool stylesheet, std::uint32_t urlId) {
    m_pages.push_back(Page{name, stylesheet, urlId});
    return static_cast<std::uint32_t>(m_pages.size() - 1);
}

void CLinkFixups::SetPage(std::uint32_t id, const LocalName& name, bool stylesheet,
                          std::uint32_t urlId) {
    if (m_pages.size() <= id)
        m_pages.resize(std::size_t{id} + 1);
    m_pages[id] = Page{name, stylesheet, urlId};
}

void CLinkFixups::Add(const std::vector<std::uint32_t>& pages, const LocalName& from,
                      const LocalName& to) {
    for (std::uint32_t page : pages)
        m_fixes[page].push_back(Fix{LocalPathOf(from), to, {}});
}

void CLinkFixups::AddLive(const std::vector<std::uint32_t>& pages, const LocalName& from,
                          const std::string& url) {
    for (std::uint32_t page : pages)
        m_fixes[page].push_back(Fix{LocalPathOf(from), from, url});
}

void CLinkFixups::Clear() {
    m_pages.clear();
    m_fixes.clear();
}

std::vector<std::string> CLinkFixups::Apply(const std::string& targetDir,
                                            const std::string& tempPath, bool relative,
                                            std::vector<std::uint32_t>& rewritten,
                                            const ReplacingFn& replacing) {
    std::vector<std::string> failed;
    for (const auto& [id, fixes] : m_fixes) {
        const Page& page = m_pages[id];
        switch (Rewrite(page, fixes, targetDir, tempPath, relative, replacing)) {
            case Rewritten::Failed:
                failed.push_back(targetDir + LocalPathOf(page.name));
                break;
            case Rewritten::Yes:
                rewritten.push_back(page.urlId);
                break;
            case Rewritten::No:
                break;
        }
    }
    m_fixes.clear();
    return failed;
}

CLinkFixups::Rewritten CLinkFixups::Rewrite(const Page& page, const std::vector<Fix>& fixes,
                                            const std::string& targetDir,
                                            const std::string& tempPath, bool relative,
                                            const ReplacingFn& replacing) {
    std::vector<std::string> from, to;
    for (const Fix& fix : fixes) {
        from.push_back(fix.from);
        if (!fix.live.empty())
            to.push_back(fix.live);
        else
            to.push_back(relative ? RelativeLocalLink(page.name, fix.to)
                                  : AbsoluteLocalLink(targetDir, fix.to));
    }
    const std::string path = targetDir + LocalPathOf(page.name);
    CFile in;
    if (!in.OpenForRead(path))
        return Rewritten::Failed;
    CFile out;
    if (!out.CreateFresh(tempPath))
        return Rewritten::Failed;
    FixSink sink(out, page.name, from, to, targetDir);
    try {
        auto buffer = std::make_unique<char[]>(64 * 1024);
        if (page.stylesheet) {
            CssReader reader;
            while (const std::size_t n = in.Read(buffer.get(), 64 * 1024))
                reader.Feed(buffer.get(), n, sink);
            reader.Finish(sink);
        } else {
            HtmlScanner scanner(false);
            while (const std::size_t n = in.Read(buffer.get(), 64 * 1024))
                scanner.Feed(buffer.get(), n, sink);
            scanner.Finish(sink);
        }
        out.Close();
    } catch (const FileException&) {
        DeleteFile(tempPath);
        return Rewritten::Failed;
    }
    if (sink.changes == 0) {
        DeleteFile(tempPath);
        return Rewritten::No;
    }
    if (replacing)
        replacing(page.urlId, FileSizeOf(tempPath));
    if (!RenameFile(tempPath, path)) {
        DeleteFile(tempPath);
        return Rewritten::Failed;
    }
    return Rewritten::Yes;
}

}  // namespace tandril
