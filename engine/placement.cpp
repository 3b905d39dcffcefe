#include "engine/placement.h"

#include "engine/messages.h"
#include "engine/mirror_job.h"
#include "engine/progress.h"
#include "engine/session.h"
#include "platform/fs.h"
#include "url/url_text.h"

namespace tandril {
void DeleteTemporaryFiles(const std::string& targetDir) {
    if (targetDir.empty() || targetDir.back() != '/') {
        return;
    }
    // A run that works in the directory now owns the files.
    CDirectoryLock lock;
    if (!lock.Acquire(targetDir)) {
        return;
    }
    DeleteFile(targetDir + CMirrorJob::kTempFileName);
    DeleteFile(targetDir + CMirrorJob::kPageTempFileName);
    for (int slot = 0; slot < CMirrorSession::kMaxSlots; ++slot) {
        DeleteFile(targetDir + CMirrorSession::SlotFileName(slot));
    }
}

void CMirrorJob::PlaceDownload(CProgressLog& log) {
    // rename(2) replaces an older copy in one step, so a failed move keeps it.
    const std::string finalPath = FinalPath();
    m_pass.m_bSaved = IsInsideTargetDir(finalPath) && RenameFile(TempFilePath(), finalPath);
    m_pass.m_nSavedBytes = m_pass.m_nDownloadBytes;
    if (!m_pass.m_bSaved) {
        log.AddLogArg(kIdsCannotCreateFile, finalPath);
    }
}

}  // namespace tandril
