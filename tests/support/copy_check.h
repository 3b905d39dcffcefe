#pragma once

#include <set>
#include <string>
#include <vector>

namespace tandril::test {

// What the references of a saved copy lead to when its pages and stylesheets are
// opened from disk, as a browser would resolve them (each file's own location, file
// URLs, the query and fragment dropped). Read with the program's own readers.
struct CopyReport {
    std::vector<std::string> missing;  // "file: reference" leading to no local file
    std::vector<std::string> live;     // "file: reference" pointing at `liveRoot`
    int references = 0;                // local references checked
};

// Checks every .html, .htm and .css file below `dir` (ending with "/").
CopyReport CheckCopy(const std::string& dir, const std::string& liveRoot);

// The pages (paths below `dir`) that a reader reaches from `start` by following links
// between saved pages on disk, `start` included.
std::set<std::string> ReachablePages(const std::string& dir, const std::string& start);

}  // namespace tandril::test
