#include "engine/messages.h"
#include "engine/mirror_job.h"
#include "url/url_text.h"

namespace tandril {

// What the readers report, for the job: link values go to the link handling, output
// to the page's temporary file while links are modified.
class CMirrorJob::ScanOutput : public ScanSink {
public:
    explicit ScanOutput(CMirrorJob& job) : m_job(job) {}
    void Write(const char* data, std::size_t size) override { m_job.WriteOut(data, size); }
    void RobotsDirective(std::string_view content) override { m_job.TakeRobotsDirective(content); }
    void Link(std::string& value, int reported, std::uint64_t offset) override {
        const int kind = m_job.m_pass.KindAt(reported, offset, kReplacedObject);
        if (!m_job.m_pass.m_bDeferOutput && !m_job.m_bRecording) {
            m_job.CompleteValue(value, kind);
            return;
        }
        // The scanner writes the new text after this call, and the old bytes before
        // it are still those of the download.
        bool rewritten;
        if (m_job.m_bRecording) {
            // The value found is kept in the page's links, not copied.
            const std::size_t size = value.size();
            const std::size_t at = EncodeLinkFound(m_job.m_pageLinks, kind, value);
            m_job.CompleteValue(value, kind);
            rewritten = EncodeLinkWritten(m_job.m_pageLinks, at, size, value);
        } else {
            const std::string found = value;
            m_job.CompleteValue(value, kind);
            rewritten = value != found;
        }
        if (m_job.m_pass.m_bDeferOutput && rewritten)
            m_job.StartOutput();
    }

private:
    CMirrorJob& m_job;
};

void CMirrorJob::WriteOut(const char* data, std::size_t size) {
    if (m_pass.m_bDeferOutput) {
        m_pass.m_nSameBytes += size;
    } else if (m_limits.m_bModifyLinks && size > 0) {
        m_pass.m_pOutFile->Write(data, size);
        m_pass.m_nOutBytes += size;
    }
}

// Turns a found value into the text that replaces it in the saved file.
void CMirrorJob::CompleteValue(std::string& value, int kind) {
    if (m_pfnLinkHook) {
        m_pfnLinkHook(value, kind);
    } else if (kind == kBaseHref) {
        value = BaseHref();
    } else {
        HandleLink(value, kind);
    }
}

std::string CMirrorJob::BaseHref() const {
    if (m_limits.m_bRelativeLinks) {
        return "./";
    }
    return "file://" + EncodeLocalPath(m_strTargetDir + m_strLocalDir);
}

void CMirrorJob::ResetScan() {
    m_nPageId = CVisitedSet::kNone;
    m_pageLinks.clear();
    m_pageNotes.clear();
    m_bPageNoFollow = false;
    m_pass.ResetReaders(m_limits.m_bModifyLinks);
}

int CMirrorJob::ScanBytes(const char* data, std::size_t size) {
    ScanOutput out(*this);
    RefreshLinkContext();
    m_pass.m_bScanning = true;
    try {
        m_pass.Feed(data, size, out);
    } catch (const FileException& e) {
        m_pass.m_bScanning = false;
        ResetScan();
        ReportFileError(e.cause);
        return 0;
    } catch (const OutputRefused&) {
        m_pass.m_bScanning = false;
        ResetScan();
        return 0;
    }
    m_pass.m_bScanning = false;
    return 1;
}

int CMirrorJob::ScanChunk() {
    const std::size_t start = m_nScanIndex < m_nBufferBytes ? m_nScanIndex : m_nBufferBytes;
    m_nScanIndex = m_nBufferBytes;
    return ScanBytes(m_pBuffer.get() + start, m_nBufferBytes - start);
}

int CMirrorJob::FinishScan() {
    ScanOutput out(*this);
    try {
        m_pass.Finish(out);
    } catch (const FileException& e) {
        ResetScan();
        ReportFileError(e.cause);
        return 0;
    } catch (const OutputRefused&) {
        ResetScan();
        return 0;
    }
    return 1;
}

}  // namespace tandril
