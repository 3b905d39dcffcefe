// libFuzzer target over the HTML scanner and link handling. The first byte picks the
// link mode and the chunk size; the rest is the page. Three oracles:
//  - with link handling that changes nothing, the saved page equals the input;
//  - the values found are the same in chunks of 4096 bytes;
//  - with the real link handling, nothing crashes and every local name it forms
//    stays inside the download directory and is a valid name on Linux, Windows and
//    macOS (no empty segment, none over 240 bytes, none of "\\:*?\"<>|", no control
//    byte, no trailing dot or space).
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/mirror_job.h"
#include "tests/support/scan_harness.h"

using namespace tandril;

namespace {

const std::string& WorkDir() {
    static const std::string dir = [] {
        std::string d = "/tmp/tandril-fuzz-" + std::to_string(getpid()) + "/";
        mkdir(d.c_str(), 0700);
        return d;
    }();
    return dir;
}

// True when every segment of a "/"-separated local path is a valid name everywhere.
bool PortablePath(const std::string& path) {
    std::size_t pos = 0;
    while (pos < path.size()) {
        std::size_t end = path.find('/', pos);
        if (end == std::string::npos)
            end = path.size();
        const std::string segment = path.substr(pos, end - pos);
        if (segment.empty() || segment.size() > 240 || segment.back() == '.' ||
            segment.back() == ' ')
            return false;
        for (unsigned char c : segment) {
            if (c < 0x20 || c == 0x7F || std::strchr("\\:*?\"<>|", c) != nullptr)
                return false;
        }
        pos = end + 1;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    const bool modify = (data[0] & 1) != 0;
    const std::size_t chunk = 1 + ((data[0] >> 1) % 64) * 67;  // 1 .. 4222, capped at 4096
    const std::string page(reinterpret_cast<const char*>(data + 1), size - 1);

    CMirrorJob identity;
    identity.m_limits.m_bModifyLinks = modify;
    test::ScanOutcome same = test::ScanPage(identity, WorkDir(), page, {chunk});
    if (modify && same.output != page) {
        std::abort();
    }
    // The values found do not depend on where the chunks are cut.
    CMirrorJob whole;
    whole.m_limits.m_bModifyLinks = modify;
    if (test::ScanPage(whole, WorkDir(), page, {4096}).calls != same.calls) {
        std::abort();
    }

    CMirrorJob real;
    real.m_limits.m_bModifyLinks = modify;
    real.m_limits.m_nMaxLevels = 3;
    std::string url = "http://example.com/docs/guide/index.html";
    real.m_strTargetDir = WorkDir();
    real.Start(url);
    if (modify) {
        real.m_pass.m_pOutFile = std::make_unique<CFile>();
        real.m_pass.m_pOutFile->OpenForWrite(WorkDir() + "real-output");
    }
    real.ResetScan();
    for (std::size_t pos = 0; pos < page.size();) {
        std::size_t n = std::min({chunk, CMirrorJob::kBufferSize, page.size() - pos});
        real.ScanBytes(page.data() + pos, n);
        pos += n;
    }
    real.FinishScan();
    real.m_pass.m_pOutFile.reset();
    for (const CQueueEntry& entry : real.m_listQueue) {
        std::string path =
            WorkDir() + (entry.strLocalDir == "/" ? "" : entry.strLocalDir) + entry.strFileName;
        const std::string local =
            (entry.strLocalDir == "/" ? "" : entry.strLocalDir) + entry.strFileName;
        if (!real.IsInsideTargetDir(path) || entry.strFileName.find('/') != std::string::npos ||
            !PortablePath(local)) {
            std::abort();
        }
    }
    return 0;
}
