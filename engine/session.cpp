#include "engine/session.h"

#include "engine/messages.h"
#include "engine/mirror_job.h"
#include "platform/message.h"

namespace tandril {

CMirrorSession::CMirrorSession(CMirrorJob& job)
    : m_hSession(std::make_unique<CInternetSession>(job.m_netOptions)), m_job(job) {}

bool CMirrorSession::OpenSession() {
    if (!m_hSession->Open()) {
        ShowMessage(kIdsSessionFailed);
        return false;
    }
    return true;
}

bool CMirrorSession::OpenUrl(const std::string& url, bool inBox) {
    if (!m_hSession->OpenUrl(url)) {
        // A cancelled run reports nothing more.
        if (inBox && !m_hSession->IsInterrupted()) {
            ShowMessageBox(ProgramTitle(), ConnectFailure(url), MessageIcon::Information);
        }
        return false;
    }
    return true;
}

std::string CMirrorSession::ConnectFailure(const std::string& url) const {
    std::string text;
    LoadMessage(kIdsCannotConnect, text, &url);
    const std::string reason = m_hSession->LastError();
    if (!reason.empty()) {
        text += " (" + reason + ")";
    }
    return text;
}

bool CMirrorSession::CreateTempFile() {
    auto file = std::make_unique<CFile>();
    if (!file->CreateFresh(m_job.TempFilePath())) {
        ShowMessage(kIdsCannotCreateFile, CMirrorJob::kTempFileName);
        return false;
    }
    m_pTempFile = std::move(file);
    return true;
}

ChunkResult CMirrorSession::ReadChunk() {
    long n = m_hSession->Read(m_job.m_pBuffer.get(), CMirrorJob::kBufferSize);
    if (n < 0) {
        m_job.m_nBufferBytes = 0;
        return ChunkResult::Failed;
    }
    m_job.m_nBufferBytes = static_cast<std::uint32_t>(n);
    if (n == 0) {
        return ChunkResult::End;
    }
    m_job.m_limits.CountBytes(static_cast<std::uint32_t>(n));
    return ChunkResult::Data;
}

bool CMirrorSession::WriteChunk() {
    if (!m_pTempFile) {
        return false;
    }
    try {
        m_pTempFile->Write(m_job.m_pBuffer.get(), m_job.m_nBufferBytes);
    } catch (const FileException& e) {
        ReportFileError(e.cause);
        return false;
    }
    return true;
}

bool CMirrorSession::CloseUrl(int* cause) {
    bool ok = true;
    if (m_pTempFile) {
        try {
            m_pTempFile->Close();
        } catch (const FileException& e) {
            ok = false;
            if (cause != nullptr)
                *cause = e.cause;
        }
        m_pTempFile.reset();
    }
    m_hSession->CloseUrl();
    return ok;
}

void CMirrorSession::CloseSession() {
    m_hSession->Close();
}

void CMirrorSession::Interrupt() {
    m_hSession->Interrupt();
}

}  // namespace tandril
