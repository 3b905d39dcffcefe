#include "tests/support/scan_harness.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>

namespace tandril::test {

std::string Bracket(const std::string& value, int) {
    return "[" + value + "]";
}

ScanOutcome ScanPage(CMirrorJob& job, const std::string& dir, const std::string& page,
                     const std::vector<std::size_t>& chunks,
                     std::string (*rewrite)(const std::string&, int)) {
    ScanOutcome outcome;
    job.m_strTargetDir = dir;
    job.m_strLocalDir.clear();
    job.ResetScan();
    job.m_pfnLinkHook = [&outcome, &job, rewrite](std::string& value, int kind) {
        if (kind == kBaseHref) {
            if (rewrite != nullptr)
                value = job.BaseHref();
            return;
        }
        outcome.calls.emplace_back(value, kind);
        if (rewrite != nullptr)
            value = rewrite(value, kind);
    };
    const std::string outPath = dir + "scan-output";
    job.m_pass.m_pOutFile.reset();
    if (job.m_limits.m_bModifyLinks) {
        job.m_pass.m_pOutFile = std::make_unique<CFile>();
        job.m_pass.m_pOutFile->OpenForWrite(outPath);
    }
    std::size_t pos = 0, index = 0;
    while (pos < page.size()) {
        std::size_t size = chunks[std::min(index, chunks.size() - 1)];
        ++index;
        size = std::min({size, page.size() - pos, CMirrorJob::kBufferSize});
        const int scanned = job.ScanBytes(page.data() + pos, size);
        pos += size;
        if (scanned == 0)
            break;
        outcome.largestCarry =
            std::max(outcome.largestCarry,
                     job.m_pass.m_scanner.HeldBytes() + job.m_pass.m_cssReader.HeldBytes());
    }
    job.FinishScan();
    if (job.m_pass.m_pOutFile) {
        job.m_pass.m_pOutFile->Close();
        job.m_pass.m_pOutFile.reset();
        std::ifstream in(outPath, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        outcome.output = s.str();
    }
    job.m_pfnLinkHook = nullptr;
    return outcome;
}

}  // namespace tandril::test
