// Throughput of the rewriting pass's scanning: chunks of 4096 bytes through the job's
// scanner with real link handling, in both link modes, for generated HTML pages and
// for real stylesheets (every .css file below /usr/share/doc, or TANDRIL_CSS_DIR).
// Reports bytes per second.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bench/page_generator.h"
#include "engine/mirror_job.h"

using namespace tandril;

namespace {

const std::vector<std::string>& Corpus() {
    static std::vector<std::string> pages = [] {
        std::vector<std::string> v;
        for (std::uint32_t i = 0; i < 64; ++i)
            v.push_back(bench::GeneratePage(40000 + i * 977, i));
        return v;
    }();
    return pages;
}

// Real stylesheets, as installed by documentation packages.
const std::vector<std::string>& Stylesheets() {
    static std::vector<std::string> sheets = [] {
        std::vector<std::string> v;
        const char* dir = std::getenv("TANDRIL_CSS_DIR");
        std::error_code ec;
        for (auto it = std::filesystem::recursive_directory_iterator(
                 dir != nullptr ? dir : "/usr/share/doc",
                 std::filesystem::directory_options::skip_permission_denied, ec);
             !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
            if (it->path().extension() != ".css" || !it->is_regular_file())
                continue;
            std::ifstream in(it->path(), std::ios::binary);
            std::stringstream text;
            text << in.rdbuf();
            v.push_back(text.str());
        }
        return v;
    }();
    return sheets;
}

void ScanCorpus(benchmark::State& state, bool modify, bool handleLinks = true, bool css = false) {
    CMirrorJob job;
    std::int64_t values = 0;
    if (!handleLinks)
        job.m_pfnLinkHook = [&values](std::string&, int) { ++values; };
    job.m_limits.m_bModifyLinks = modify;
    job.m_limits.m_nMaxLevels = 1000;
    job.m_strTargetDir = "/tmp/tandril-bench/";
    std::int64_t bytes = 0, links = 0;
    for (auto _ : state) {
        std::string url = "http://example.com/docs/guide/index.html";
        job.Start(url);
        for (const std::string& page : css ? Stylesheets() : Corpus()) {
            job.ResetScan();
            job.m_pass.m_bScanCss = css;
            if (modify) {
                job.m_pass.m_pOutFile = std::make_unique<CFile>();
                job.m_pass.m_pOutFile->OpenForWrite("/dev/null");
            }
            for (std::size_t pos = 0; pos < page.size(); pos += CMirrorJob::kBufferSize) {
                std::size_t n = std::min(CMirrorJob::kBufferSize, page.size() - pos);
                job.ScanBytes(page.data() + pos, n);
            }
            job.FinishScan();
            job.m_pass.m_pOutFile.reset();
            bytes += static_cast<std::int64_t>(page.size());
        }
        links += static_cast<std::int64_t>(job.m_mapVisited.size());
    }
    state.SetBytesProcessed(bytes);
    if (!handleLinks) {
        state.counters["bytes_per_link"] = benchmark::Counter(
            static_cast<double>(bytes) / static_cast<double>(values ? values : 1));
    }
    state.counters["queued_per_pass"] =
        benchmark::Counter(static_cast<double>(links) / static_cast<double>(state.iterations()));
}

void BM_ScanModifyLinks(benchmark::State& state) {
    ScanCorpus(state, true);
}
void BM_ScanCopyOnly(benchmark::State& state) {
    ScanCorpus(state, false);
}

// The scanner alone, with link handling that does nothing: where the time goes.
void BM_ScannerOnly(benchmark::State& state) {
    ScanCorpus(state, false, false);
}
void BM_CssModifyLinks(benchmark::State& state) {
    if (Stylesheets().empty()) {
        state.SkipWithError("no stylesheets found");
        return;
    }
    ScanCorpus(state, true, true, true);
}
void BM_CssCopyOnly(benchmark::State& state) {
    if (Stylesheets().empty()) {
        state.SkipWithError("no stylesheets found");
        return;
    }
    ScanCorpus(state, false, true, true);
}
BENCHMARK(BM_ScannerOnly)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CssModifyLinks)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CssCopyOnly)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScanModifyLinks)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScanCopyOnly)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
