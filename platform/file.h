#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace tandril {

// Cause codes carried by a FileException. The program's messages 500..515 are
// chosen by these numbers; any value outside 0..14 means "unspecified".
enum FileCause : int {
    kFileNone = 0,
    kFileGeneric = 1,
    kFileNotFound = 2,
    kFileBadPath = 3,
    kFileTooManyOpen = 4,
    kFileAccessDenied = 5,
    kFileInvalidHandle = 6,
    kFileRemoveCurrentDir = 7,
    kFileDirectoryFull = 8,
    kFileBadSeek = 9,
    kFileHardIO = 10,
    kFileSharingViolation = 11,
    kFileLockViolation = 12,
    kFileDiskFull = 13,
    kFileEndOfFile = 14,
    kFileUnspecified = 99,
};

// Raised by CFile's read, write and close. Caught where the file is used, reported
// through ReportFileError, and never allowed to cross a thread boundary.
struct FileException {
    int cause;
    int error;  // the errno that produced it, for diagnostics only
};

// Maps an errno value to a file cause code.
int FileCauseFromErrno(int err);

// A file handle with the program's failure rules: opening returns false on failure
// (no exception); read, write and close raise FileException. Writes are gathered in
// a 64 KiB buffer, so a failure may surface at a later Write or at Close. Owns its
// descriptor; the destructor closes it silently, dropping unwritten bytes. Used by
// one thread at a time.
class CFile {
public:
    CFile() = default;
    ~CFile();
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;

    // Creates the file or truncates an existing one, for writing.
    bool OpenForWrite(const std::string& path);
    // Creates a new file in place of whatever stands at `path`: a file, a symbolic
    // link, a FIFO or an empty directory there is removed first (never followed or
    // opened), so a temporary file is always a fresh regular file of this process.
    // False when that cannot be done. kGatheredWhenLarge writes the first kWriteBuffer
    // bytes at once and gathers only after them: a small file (a page among many
    // transfers at once) never holds a buffer, a large one is still written in large blocks.
    enum class Buffering { kGathered, kGatheredWhenLarge };
    bool CreateFresh(const std::string& path, Buffering buffering = Buffering::kGathered);
    // Opens a regular file for reading; a symbolic link, FIFO, device or directory
    // is refused without blocking.
    bool OpenForRead(const std::string& path);
    bool IsOpen() const { return m_fd >= 0; }

    // Reads up to `size` bytes; returns the count, 0 at the end of the file.
    std::size_t Read(void* buffer, std::size_t size);
    // Reads up to `size` bytes from `offset` without moving the position of Read.
    std::size_t ReadAt(void* buffer, std::size_t size, std::uint64_t offset);
    // Writes all `size` bytes (through the buffer, see Buffering).
    void Write(const void* data, std::size_t size);
    // Closes the file; a failure to flush (a full disk on a network file system) raises.
    void Close();

    static constexpr std::size_t kWriteBuffer = 64 * 1024;

private:
    void Flush();
    void WriteThrough(const char* data, std::size_t size);

    int m_fd = -1;
    std::unique_ptr<char[]> m_pPending;
    std::size_t m_nPending = 0;
    std::size_t m_nDirectLeft = 0;  // bytes still to be written before gathering starts
};

// Reads the first `limit` bytes (or fewer) of the regular file at `path` into `text`.
// False when it cannot be opened or a read fails; `text` then holds what was read.
bool ReadFileStart(const std::string& path, std::size_t limit, std::string& text);

}  // namespace tandril
