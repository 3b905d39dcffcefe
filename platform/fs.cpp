#include "platform/fs.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "platform/file.h"

namespace tandril {

bool PathExists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

bool IsRealDirectory(const std::string& path) {
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/') {
        trimmed.pop_back();
    }
    struct stat st {};
    return ::lstat(trimmed.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsSymbolicLink(const std::string& path) {
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/') {
        trimmed.pop_back();
    }
    struct stat st {};
    return ::lstat(trimmed.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool IsDirectory(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsRegularFile(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::uint64_t FileSizeOf(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
}

bool CreateDirectoryLevel(const std::string& path) {
    return ::mkdir(path.c_str(), 0755) == 0;
}

bool RenameFile(const std::string& from, const std::string& to) {
    return ::rename(from.c_str(), to.c_str()) == 0;
}

bool DeleteFile(const std::string& path) {
    return ::unlink(path.c_str()) == 0;
}

namespace {

bool IsOctal(char c) {
    return c >= '0' && c <= '7';
}

// Decodes the octal escapes (\040 for a space) of a mount table field.
std::string UnescapeMountField(const std::string& field) {
    std::string out;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && IsOctal(field[i + 1]) &&
            IsOctal(field[i + 2]) && IsOctal(field[i + 3])) {
            int v = (field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0');
            out += static_cast<char>(v);
            i += 3;
        } else {
            out += field[i];
        }
    }
    return out;
}

bool PathIsBelow(const std::string& path, const std::string& mountPoint) {
    if (mountPoint == "/") {
        return true;
    }
    if (path.compare(0, mountPoint.size(), mountPoint) != 0) {
        return false;
    }
    return path.size() == mountPoint.size() || path[mountPoint.size()] == '/';
}

std::string NearestExistingAncestor(std::string path) {
    while (path.size() > 1 && !PathExists(path)) {
        std::size_t slash = path.find_last_of('/', path.size() - 2);
        path = slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
    }
    char* real = ::realpath(path.c_str(), nullptr);
    if (real != nullptr) {
        path = real;
        std::free(real);
    }
    return path;
}

}  // namespace

std::optional<std::string> OpticalMediaMountPointIn(const std::string& path,
                                                    const std::string& mountTable) {
    // The longest mount point that contains the path decides its file system.
    std::string best, bestType;
    std::string_view rest(mountTable);
    while (!rest.empty()) {
        const std::size_t end = std::min(rest.find('\n'), rest.size());
        std::string_view line = rest.substr(0, end);
        rest.remove_prefix(std::min(end + 1, rest.size()));
        std::string_view fields[3];
        int count = 0;
        while (count < 3) {
            const std::size_t begin = line.find_first_not_of(" \t\r\f\v");
            if (begin == std::string_view::npos) {
                break;
            }
            line.remove_prefix(begin);
            const std::size_t length = std::min(line.find_first_of(" \t\r\f\v"), line.size());
            fields[count++] = line.substr(0, length);
            line.remove_prefix(length);
        }
        if (count < 3) {
            continue;
        }
        const std::string mountPoint = UnescapeMountField(std::string(fields[1]));
        if (PathIsBelow(path, mountPoint) && mountPoint.size() >= best.size()) {
            best = mountPoint;
            bestType = fields[2];
        }
    }
    if (bestType == "iso9660" || bestType == "udf") {
        return best;
    }
    return std::nullopt;
}

std::optional<std::string> OpticalMediaMountPoint(const std::string& path) {
    // Read with CFile: a C++ stream here would set up the locale machinery, a few hundred
    // KiB of memory, for one small file.
    CFile in;
    if (!in.OpenForRead("/proc/self/mounts")) {
        return std::nullopt;
    }
    std::string table;
    char block[4096];
    try {
        while (const std::size_t n = in.Read(block, sizeof block)) {
            table.append(block, n);
        }
    } catch (const FileException&) {
        return std::nullopt;
    }
    return OpticalMediaMountPointIn(NearestExistingAncestor(path), table);
}

std::string HomeDirectory() {
    const char* home = std::getenv("HOME");
    std::string dir;
    if (home != nullptr && *home != '\0') {
        dir = home;
    } else if (const passwd* pw = ::getpwuid(::getuid()); pw != nullptr && pw->pw_dir != nullptr) {
        dir = pw->pw_dir;
    } else {
        dir.assign(1, '/');
    }
    while (dir.size() > 1 && dir.back() == '/') {
        dir.pop_back();
    }
    return dir;
}

std::string WorkingDirectory() {
    std::vector<char> buf(4096);
    while (::getcwd(buf.data(), buf.size()) == nullptr) {
        if (buf.size() > (1u << 20)) {
            return "/";
        }
        buf.resize(buf.size() * 2);
    }
    return std::string(buf.data());
}

CDirectoryLock::~CDirectoryLock() {
    Release();
}

void CDirectoryLock::Release() {
    if (m_fd >= 0) {
        ::close(m_fd);  // closing the descriptor releases the lock
        m_fd = -1;
    }
}

bool CDirectoryLock::Acquire(const std::string& dir) {
    if (m_fd >= 0) {
        return true;
    }
    int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    m_fd = fd;
    return true;
}

}  // namespace tandril
