#include "engine/messages.h"
#include "engine/mirror_job.h"
#include "engine/progress.h"
#include "platform/fs.h"
#include "url/url_text.h"

namespace tandril {
namespace {

// "~" and "~/..." stand for the home directory; a relative path is taken from the
// working directory.
std::string MakeAbsolute(const std::string& dir) {
    if (dir == "~" || dir.compare(0, 2, "~/") == 0) {
        return HomeDirectory() + dir.substr(1);
    }
    if (dir[0] == '/') {
        return dir;
    }
    std::string cwd = WorkingDirectory();
    return cwd == "/" ? "/" + dir : cwd + "/" + dir;
}

// "~tmp~NN~.tmp" and "~tmp~NNN~.tmp": the program's own temporary files.
bool IsReservedName(const std::string& name) {
    if ((name.size() != 12 && name.size() != 13) || name.compare(0, 5, "~tmp~") != 0 ||
        name.compare(name.size() - 5, 5, "~.tmp") != 0)
        return false;
    for (std::size_t i = 5; i < name.size() - 5; ++i) {
        if (name[i] < '0' || name[i] > '9')
            return false;
    }
    return true;
}

}  // namespace

bool CMirrorJob::CheckTargetDirectory() {
    while (!m_strTargetDir.empty() &&
           IsWhiteSpace(static_cast<unsigned char>(m_strTargetDir.back()))) {
        m_strTargetDir.pop_back();
    }
    if (m_strTargetDir.empty()) {
        ShowMessage(kIdsChooseDirectory);
        return false;
    }
    m_strTargetDir = MakeAbsolute(m_strTargetDir);
    if (auto mountPoint = OpticalMediaMountPoint(m_strTargetDir)) {
        ShowMessage(kIdsOpticalMedium, *mountPoint);
        return false;
    }
    if (!PathExists(m_strTargetDir) && !CreateDirectoryLevel(m_strTargetDir)) {
        ShowMessage(kIdsCannotCreateDir, m_strTargetDir);
        return false;
    }
    if (!IsDirectory(m_strTargetDir)) {
        ShowMessage(kIdsCannotCreateDir, m_strTargetDir);
        return false;
    }
    if (m_strTargetDir.back() != '/') {
        m_strTargetDir += '/';
    }
    return true;
}

bool CMirrorJob::PrepareLocalDirectory(CProgressLog& log) {
    if (m_strLocalDir == "/") {
        m_strLocalDir.clear();
    }
    // The program's own temporary files are never a page's name or directory.
    std::string first =
        m_strLocalDir.empty() ? m_strFileName : m_strLocalDir.substr(0, m_strLocalDir.find('/'));
    if (IsReservedName(first)) {
        log.AddLogArg(kIdsCannotCreateFile, FinalPath());
        return false;
    }
    if (!IsInsideTargetDir(FinalPath())) {
        log.AddLogArg(kIdsCannotCreateDir, m_strTargetDir + m_strLocalDir);
        return false;
    }
    // Every level is checked, not only the text of the path: a level that is a
    // symbolic link would lead the file out of the download directory.
    if (m_strLocalDir != m_strCheckedDir) {
        std::string candidate = m_strTargetDir;
        std::size_t pos = 0;
        while (pos < m_strLocalDir.size()) {
            std::size_t end = m_strLocalDir.find('/', pos);
            if (end == std::string::npos)
                end = m_strLocalDir.size() - 1;
            candidate += m_strLocalDir.substr(pos, end - pos + 1);
            pos = end + 1;
            const bool exists = PathExists(candidate) || IsSymbolicLink(candidate);
            if (exists ? !IsRealDirectory(candidate) : !CreateDirectoryLevel(candidate)) {
                log.AddLogArg(kIdsCannotCreateDir, candidate);
                return false;
            }
        }
        m_strCheckedDir = m_strLocalDir;
    }
    ResetScan();
    return true;
}

}  // namespace tandril
