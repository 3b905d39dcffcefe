#pragma once

#include <string>
#include <utility>
#include <vector>

#include "engine/mirror_job.h"

namespace tandril::test {

struct ScanOutcome {
    std::vector<std::pair<std::string, int>> calls;  // (value, kind) in order
    std::string output;                              // what was written (links modified)
    std::size_t largestCarry = 0;
};

// Scans `page` through the job's scanner in chunks of the given sizes (the last size
// repeats), as the rewriting pass would, with link handling replaced by `rewrite`
// (which may change the value; a BASE HREF gets the job's own BaseHref()). With a
// null `rewrite` every value, BASE included, stays as found. Output goes to `dir`.
ScanOutcome ScanPage(CMirrorJob& job, const std::string& dir, const std::string& page,
                     const std::vector<std::size_t>& chunks,
                     std::string (*rewrite)(const std::string&, int) = nullptr);

// The rewrite used by the tag tables: the value in brackets, so replacements show.
std::string Bracket(const std::string& value, int kind);

}  // namespace tandril::test
