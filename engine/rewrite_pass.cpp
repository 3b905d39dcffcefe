#include <algorithm>

#include "css/css_fallbacks.h"
#include "engine/messages.h"
#include "engine/mirror_job.h"
#include "platform/fs.h"

namespace tandril {

// Closes both files of the page. A complete page with modified links is renamed
// from the page's temporary file over its final path in one step; otherwise that
// temporary file is deleted and an older copy at the final path stays as it was.
bool CMirrorJob::EndPass(bool complete) {
    m_pass.m_pInFile.reset();
    if (m_pass.m_bDeferOutput) {
        m_pass.m_bDeferOutput = false;
        // Nothing was rewritten: the download is the page, placed as it came.
        if (complete) {
            m_pass.m_bSaved = RenameFile(TempFilePath(), FinalPath());
            m_pass.m_nSavedBytes = m_pass.m_nDownloadBytes;
            if (!m_pass.m_bSaved)
                ShowMessage(kIdsCannotCreateFile, FinalPath());
        }
        return false;
    }
    if (m_pass.m_pOutFile) {
        try {
            m_pass.m_pOutFile->Close();
        } catch (const FileException& e) {
            // A failure that already ended the pass has been reported once.
            if (complete) {
                ReportFileError(e.cause);
            }
            complete = false;
        }
        m_pass.m_pOutFile.reset();
        if (complete && !RenameFile(PageTempFilePath(), FinalPath())) {
            ShowMessage(kIdsCannotCreateFile, FinalPath());
            complete = false;
        }
        if (!complete) {
            DeleteFile(PageTempFilePath());
        }
        m_pass.m_bSaved = complete;
        m_pass.m_nSavedBytes = m_pass.m_nOutBytes;
    }
    return false;
}

void CMirrorJob::StartOutput() {
    m_pass.m_bDeferOutput = false;
    auto out = std::make_unique<CFile>();
    if (!out->CreateFresh(PageTempFilePath())) {
        // As for a transfer's own file: the run cannot go on without it.
        ShowMessage(kIdsCannotCreateFile, kPageTempFileName);
        m_pass.m_bOutputRefused = true;
        throw OutputRefused{};
    }
    m_pass.m_pOutFile = std::move(out);
    m_pass.m_nOutBytes = m_pass.m_nSameBytes;
    char block[16384];
    for (std::uint64_t done = 0; done < m_pass.m_nSameBytes;) {
        const std::size_t want = static_cast<std::size_t>(
            std::min<std::uint64_t>(sizeof(block), m_pass.m_nSameBytes - done));
        const std::size_t got = m_pass.m_pInFile->ReadAt(block, want, done);
        if (got == 0) {
            throw FileException{kFileEndOfFile, 0};  // the download shrank under us
        }
        m_pass.m_pOutFile->Write(block, got);
        done += got;
    }
}

// A stylesheet is read once before its pass for the references that later
// declarations replace.
bool CMirrorJob::FindReplacedReferences() {
    CssFallbackFinder finder;
    try {
        std::uint64_t offset = 0;
        while (const std::size_t got =
                   m_pass.m_pInFile->ReadAt(m_pBuffer.get(), kBufferSize, offset)) {
            finder.Feed(m_pBuffer.get(), got);
            offset += got;
        }
    } catch (const FileException& e) {
        ReportFileError(e.cause);
        return false;
    }
    m_pass.m_replaced = finder.Finish();
    return true;
}

int CMirrorJob::ProcessHtmlChunk() {
    const bool modify = m_limits.m_bModifyLinks;
    if (!m_pass.m_pInFile) {
        auto in = std::make_unique<CFile>();
        if (!in->OpenForRead(TempFilePath())) {
            ShowMessage(kIdsCannotRead, TempFilePath());
            return 0;
        }
        if (modify && !IsInsideTargetDir(FinalPath())) {
            ShowMessage(kIdsCannotCreateFile, FinalPath());
            return 0;
        }
        m_pass.m_pInFile = std::move(in);
        m_pass.m_bDeferOutput = modify;
        m_pass.m_nSameBytes = 0;
        if (m_pass.m_bScanCss && !FindReplacedReferences()) {
            return EndPass(false);
        }
    }

    std::size_t count = 0;
    try {
        count = m_pass.m_pInFile->Read(m_pBuffer.get(), kBufferSize);
    } catch (const FileException& e) {
        ReportFileError(e.cause);
        return EndPass(false);
    }
    if (count == 0) {
        return EndPass(FinishScan() != 0);
    }

    m_nScanIndex = 0;
    m_nBufferBytes = static_cast<std::uint32_t>(count);
    if (m_limits.m_bFirstPage && !m_pass.m_bScanCss) {
        m_limits.m_bFirstPage = false;
        m_limits.m_strStartPage = FinalPath();
    }
    if (ScanChunk() == 0) {
        return EndPass(false);
    }
    return 1;
}

}  // namespace tandril
