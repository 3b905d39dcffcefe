#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tandril {

// Thin, thread-safe wrappers over the file system. None of them throws.

// True when anything (file, directory, other) exists at the path; symbolic links
// are followed, so a dangling link does not exist.
bool PathExists(const std::string& path);
bool IsDirectory(const std::string& path);
// True for a directory that is not reached through a symbolic link at its last level.
bool IsRealDirectory(const std::string& path);
// True when the last level of `path` is a symbolic link (dangling or not).
bool IsSymbolicLink(const std::string& path);
// True for a regular file that is not reached through a symbolic link at its last level.
bool IsRegularFile(const std::string& path);
// The size of the file at `path` (not followed when a link); 0 when there is none.
std::uint64_t FileSizeOf(const std::string& path);
// Creates one directory level; the parent must exist.
bool CreateDirectoryLevel(const std::string& path);
// Renames `from` to `to`, replacing `to` atomically when it exists.
bool RenameFile(const std::string& from, const std::string& to);
// Deletes a file; false when it did not exist or could not be deleted.
bool DeleteFile(const std::string& path);

// When the nearest existing ancestor of `path` (or the path itself) lies on an
// optical medium (an iso9660 or udf file system), returns that file system's
// mount point; otherwise nothing. `path` must be absolute.
std::optional<std::string> OpticalMediaMountPoint(const std::string& path);

// Same test against a given mount table (the format of /proc/self/mounts); for tests.
std::optional<std::string> OpticalMediaMountPointIn(const std::string& path,
                                                    const std::string& mountTable);

// The user's home directory ($HOME, else the password database), without a trailing "/".
std::string HomeDirectory();
// The working directory, without a trailing "/" (except for "/" itself).
std::string WorkingDirectory();

// An exclusive advisory lock on a directory, held while the object lives, so that two
// runs (in one process or in two) never write into one download directory at once.
class CDirectoryLock {
public:
    CDirectoryLock() = default;
    ~CDirectoryLock();
    CDirectoryLock(const CDirectoryLock&) = delete;
    CDirectoryLock& operator=(const CDirectoryLock&) = delete;
    // False when another holder has the directory (or it cannot be opened).
    bool Acquire(const std::string& dir);
    void Release();

private:
    int m_fd = -1;
};

}  // namespace tandril
