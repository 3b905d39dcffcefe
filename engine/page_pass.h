#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "css/css_reader.h"
#include "html/html_scanner.h"
#include "platform/file.h"

namespace tandril {

// The pass over the current download, a page or a stylesheet: the file read, the file
// written while links are modified, and the reader that keeps its state between
// chunks. Owned by the job; reset before each file; used by the worker thread only.
struct CPagePass {
    std::unique_ptr<CFile> m_pInFile;
    std::unique_ptr<CFile> m_pOutFile;
    // While links are modified, a page's output file is made only when a link in it
    // is rewritten: until then the output is the download itself, m_nSameBytes long,
    // and a page with nothing rewritten is placed as downloaded.
    bool m_bDeferOutput = false;
    std::uint64_t m_nSameBytes = 0;
    // The file is read as a stylesheet, else as HTML.
    bool m_bScanCss = false;
    HtmlScanner m_scanner;
    CssReader m_cssReader;
    // The offsets of a stylesheet's references that later declarations replace
    // (CssFallbackFinder), ascending; found before the pass starts.
    std::vector<std::uint64_t> m_replaced;
    bool m_bScanning = false;  // inside a Feed (the page cannot change)
    // The current file stands whole in its place (set by the placement, reset per URL),
    // m_nSavedBytes long.
    bool m_bSaved = false;
    std::uint64_t m_nSavedBytes = 0;
    // The length of the current download, and of what the page's output file holds.
    std::uint64_t m_nDownloadBytes = 0;
    std::uint64_t m_nOutBytes = 0;
    // The page's output file could not be made (reported): the run cannot go on.
    bool m_bOutputRefused = false;

    // Hands bytes to the file's reader, and ends the file.
    void Feed(const char* data, std::size_t size, ScanSink& sink) {
        if (m_bScanCss)
            m_cssReader.Feed(data, size, sink);
        else
            m_scanner.Feed(data, size, sink);
    }
    void Finish(ScanSink& sink) {
        if (m_bScanCss)
            m_cssReader.Finish(sink);
        else
            m_scanner.Finish(sink);
    }
    // Forgets a scan in progress; BASE HREF is looked for when `findBase`.
    void ResetReaders(bool findBase) {
        m_scanner.Reset();
        m_scanner.SetFindBase(findBase);
        m_cssReader.Reset();
        m_replaced.clear();
    }
    // The link kind a reference of the file at `offset` is handled as.
    int KindAt(int kind, std::uint64_t offset, int replacedKind) const {
        if (m_bScanCss && std::binary_search(m_replaced.begin(), m_replaced.end(), offset))
            return replacedKind;
        return kind;
    }
    // Dropping the file objects closes them; a failure to close is of no interest here.
    void CloseFiles() {
        m_pInFile.reset();
        m_pOutFile.reset();
    }
};

}  // namespace tandril
