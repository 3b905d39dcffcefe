#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/message.h"

namespace tandril::test {

// Records every message box shown while it lives (and shows none).
class CMessageRecorder {
public:
    CMessageRecorder();
    ~CMessageRecorder();
    std::vector<std::string> Texts();
    std::vector<std::string> Titles();

private:
    std::mutex m_mutex;
    std::vector<std::string> m_texts;
    std::vector<std::string> m_titles;
    MessageBoxHook m_previous;
};

// A fresh directory under the system's temporary directory, removed with its contents.
class CTempDir {
public:
    CTempDir();
    ~CTempDir();
    // The path, ending with "/".
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);
bool FileExists(const std::string& path);
// Every file below `dir` (which ends with "/") but the program's own temporary files and
// the record of the copy, by its path relative to `dir`, with its content: a copy to compare.
std::map<std::string, std::string> ReadCopy(const std::string& dir);

}  // namespace tandril::test
