#include "tests/support/test_support.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace tandril::test {

CMessageRecorder::CMessageRecorder() {
    m_previous =
        SetMessageBoxHook([this](const std::string& title, const std::string& text, MessageIcon) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_titles.push_back(title);
            m_texts.push_back(text);
        });
}

CMessageRecorder::~CMessageRecorder() {
    SetMessageBoxHook(m_previous);
}

std::vector<std::string> CMessageRecorder::Texts() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_texts;
}

std::vector<std::string> CMessageRecorder::Titles() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_titles;
}

CTempDir::CTempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tandril-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    m_path = pattern + "/";
}

CTempDir::~CTempDir() {
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

bool FileExists(const std::string& path) {
    return std::filesystem::exists(path);
}

std::map<std::string, std::string> ReadCopy(const std::string& dir) {
    std::map<std::string, std::string> files;
    for (const auto& e : std::filesystem::recursive_directory_iterator(dir)) {
        // The program's own temporary files and its record are no part of the copy.
        const std::string path = e.path().string().substr(dir.size());
        if (e.is_regular_file() && e.path().filename().string().rfind("~tmp~", 0) != 0 &&
            path.rfind("%tandril/", 0) != 0)
            files[path] = ReadFile(e.path());
    }
    return files;
}

}  // namespace tandril::test
