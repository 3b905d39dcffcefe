#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "url/local_path.h"

namespace tandril {

// Links are written while pages are saved, before every target is fetched: a link is
// written for the name its target is expected to have (see PredictFileType), and a
// target whose type gives it another name leaves the pages that linked to it
// pointing at a file that will not exist. This object keeps the pages scanned in a
// run and, for each, the names to correct; Apply rewrites those pages in place.
//
// Owned by the job; used by the worker thread during a run only.
class CLinkFixups {
public:
    // Registers a page saved as `name` (a stylesheet when `stylesheet`), the file of
    // the URL with visited id `urlId`; its id.
    std::uint32_t AddPage(const LocalName& name, bool stylesheet, std::uint32_t urlId);
    // Registers a page under a given id (a copy taken back from its record); later
    // pages get ids after it.
    void SetPage(std::uint32_t id, const LocalName& name, bool stylesheet, std::uint32_t urlId);
    // The links of `pages` that lead to the file `from` are to lead to `to`.
    void Add(const std::vector<std::uint32_t>& pages, const LocalName& from, const LocalName& to);
    // The links of `pages` that lead to the file `from` are to lead to `url` on the
    // live site instead (a file of another host that could not be fetched).
    void AddLive(const std::vector<std::uint32_t>& pages, const LocalName& from,
                 const std::string& url);
    bool Pending() const { return !m_fixes.empty(); }
    // Rewrites each page with corrections (through `tempPath`, then renamed over the
    // page, so a page is never left half written); links are written as relative
    // paths when `relative`, else as file URLs below `targetDir`. Returns the pages
    // that could not be rewritten (they keep their old links); the visited ids of the
    // pages rewritten are added to `rewritten`. `replacing`, when given, is told the
    // visited id and the new size of each page just before its new text takes its place.
    using ReplacingFn = std::function<void(std::uint32_t urlId, std::uint64_t size)>;
    std::vector<std::string> Apply(const std::string& targetDir, const std::string& tempPath,
                                   bool relative, std::vector<std::uint32_t>& rewritten,
                                   const ReplacingFn& replacing = {});
    void Clear();

private:
    struct Page {
        LocalName name;
        bool stylesheet = false;
        std::uint32_t urlId = 0;
    };
    struct Fix {
        std::string from;  // the local path the links lead to now
        LocalName to;
        std::string live;  // the text to write instead of a link to `to`, when not empty
    };
    enum class Rewritten { No, Yes, Failed };
    Rewritten Rewrite(const Page& page, const std::vector<Fix>& fixes, const std::string& targetDir,
                      const std::string& tempPath, bool relative, const ReplacingFn& replacing);

    std::vector<Page> m_pages;
    std::map<std::uint32_t, std::vector<Fix>> m_fixes;
};

}  // namespace tandril
