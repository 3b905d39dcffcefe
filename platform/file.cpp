#include "platform/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstring>

namespace tandril {

int FileCauseFromErrno(int err) {
    switch (err) {
        case ENOSPC:
        case EDQUOT:
            return kFileDiskFull;
        case EACCES:
        case EPERM:
        case EROFS:
            return kFileAccessDenied;
        case ENOENT:
            return kFileNotFound;
        case ENOTDIR:
        case ENAMETOOLONG:
        case ELOOP:
            return kFileBadPath;
        case EMFILE:
        case ENFILE:
            return kFileTooManyOpen;
        case EIO:
            return kFileHardIO;
        default:
            return kFileUnspecified;
    }
}

CFile::~CFile() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

bool CFile::OpenForWrite(const std::string& path) {
    if (m_fd >= 0) {
        return false;
    }
    m_nDirectLeft = 0;
    m_fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    return m_fd >= 0;
}

bool CFile::CreateFresh(const std::string& path, Buffering buffering) {
    if (m_fd >= 0) {
        return false;
    }
    m_nDirectLeft = buffering == Buffering::kGatheredWhenLarge ? kWriteBuffer : 0;
    if (::unlink(path.c_str()) != 0 && errno == EISDIR) {
        ::rmdir(path.c_str());
    }
    // O_EXCL with O_CREAT never follows a link; whatever raced in fails the open.
    m_fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    return m_fd >= 0;
}

bool CFile::OpenForRead(const std::string& path) {
    if (m_fd >= 0) {
        return false;
    }
    m_fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    struct stat st {};
    if (m_fd >= 0 && (::fstat(m_fd, &st) != 0 || !S_ISREG(st.st_mode))) {
        ::close(m_fd);
        m_fd = -1;
    }
    return m_fd >= 0;
}

std::size_t CFile::Read(void* buffer, std::size_t size) {
    if (m_fd < 0) {
        throw FileException{kFileInvalidHandle, EBADF};
    }
    for (;;) {
        ssize_t n = ::read(m_fd, buffer, size);
        if (n >= 0) {
            return static_cast<std::size_t>(n);
        }
        if (errno != EINTR) {
            throw FileException{FileCauseFromErrno(errno), errno};
        }
    }
}

std::size_t CFile::ReadAt(void* buffer, std::size_t size, std::uint64_t offset) {
    if (m_fd < 0) {
        throw FileException{kFileInvalidHandle, EBADF};
    }
    for (;;) {
        ssize_t n = ::pread(m_fd, buffer, size, static_cast<off_t>(offset));
        if (n >= 0) {
            return static_cast<std::size_t>(n);
        }
        if (errno != EINTR) {
            throw FileException{FileCauseFromErrno(errno), errno};
        }
    }
}

void CFile::Write(const void* data, std::size_t size) {
    if (m_fd < 0) {
        throw FileException{kFileInvalidHandle, EBADF};
    }
    const char* p = static_cast<const char*>(data);
    if (m_nPending + size > kWriteBuffer) {
        Flush();
    }
    if (m_nDirectLeft > 0 || size >= kWriteBuffer) {
        m_nDirectLeft -= std::min(m_nDirectLeft, size);
        WriteThrough(p, size);
        return;
    }
    if (!m_pPending) {
        m_pPending.reset(new char[kWriteBuffer]);
    }
    std::memcpy(m_pPending.get() + m_nPending, p, size);
    m_nPending += size;
}

void CFile::Flush() {
    if (m_nPending > 0) {
        std::size_t n = m_nPending;
        m_nPending = 0;
        WriteThrough(m_pPending.get(), n);
    }
}

void CFile::WriteThrough(const char* p, std::size_t size) {
    while (size > 0) {
        ssize_t n = ::write(m_fd, p, size);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw FileException{FileCauseFromErrno(errno), errno};
        }
        p += n;
        size -= static_cast<std::size_t>(n);
    }
}

void CFile::Close() {
    if (m_fd < 0) {
        return;
    }
    try {
        Flush();
    } catch (const FileException&) {
        ::close(m_fd);
        m_fd = -1;
        throw;
    }
    int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0 && errno != EINTR) {
        throw FileException{FileCauseFromErrno(errno), errno};
    }
}

bool ReadFileStart(const std::string& path, std::size_t limit, std::string& text) {
    text.clear();
    CFile file;
    if (!file.OpenForRead(path))
        return false;
    try {
        char block[65536];
        while (text.size() < limit) {
            const std::size_t n = file.Read(block, std::min(sizeof(block), limit - text.size()));
            if (n == 0)
                break;
            text.append(block, n);
        }
    } catch (const FileException&) {
        return false;
    }
    return true;
}

}  // namespace tandril
