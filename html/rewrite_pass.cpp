#include "engine/messages.h"
#include "engine/mirror_job.h"
#include "platform/fs.h"

namespace tandril {

// Closes both files of the page. A complete page with modified links is renamed
// from the page's temporary file over its final path in one step; otherwise that
// temporary file is deleted and an older copy at the final path stays as it was.
bool CMirrorJob::EndPass(bool complete) {
    m_pInFile.reset();
    if (m_pOutFile) {
        try {
            m_pOutFile->Close();
        } catch (const FileException& e) {
            // A failure that already ended the pass has been reported once.
            if (complete) {
                ReportFileError(e.cause);
            }
            complete = false;
        }
        m_pOutFile.reset();
        if (complete && !RenameFile(PageTempFilePath(), FinalPath())) {
            ShowMessage(kIdsCannotCreateFile, FinalPath());
            complete = false;
        }
        if (!complete) {
            DeleteFile(PageTempFilePath());
        }
    }
    return false;
}

int CMirrorJob::ProcessHtmlChunk() {
    const bool modify = m_limits.m_bModifyLinks;
    if (!m_pInFile) {
        auto in = std::make_unique<CFile>();
        if (!in->OpenForRead(TempFilePath())) {
            ShowMessage(kIdsCannotRead, TempFilePath());
            return 0;
        }
        m_pInFile = std::move(in);
        if (modify) {
            auto out = std::make_unique<CFile>();
            if (!IsInsideTargetDir(FinalPath()) || !out->CreateFresh(PageTempFilePath())) {
                ShowMessage(kIdsCannotCreateFile, FinalPath());
                m_pInFile.reset();
                return 0;
            }
            m_pOutFile = std::move(out);
        }
    }

    std::size_t count = 0;
    try {
        count = m_pInFile->Read(m_pBuffer.get(), kBufferSize);
    } catch (const FileException& e) {
        ReportFileError(e.cause);
        return EndPass(false);
    }
    if (count == 0) {
        return EndPass(FinishScan() != 0);
    }

    m_nScanIndex = 0;
    m_nBufferBytes = static_cast<std::uint32_t>(count);
    if (m_limits.m_bFirstPage && !m_bScanCss) {
        m_limits.m_bFirstPage = false;
        m_limits.m_strStartPage = FinalPath();
    }
    if (ScanChunk() == 0) {
        return EndPass(false);
    }
    return 1;
}

}  // namespace tandril
