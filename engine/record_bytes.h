#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace tandril {

// Appends numbers (as PutRecordNumber writes them) and texts (their length, then their
// bytes) to a string through a pointer, after making room for at most `most` bytes
// once: a change of the record is a few dozen small fields, and a run writes one for
// every file and link. What was not used is cut off when the writer goes.
class CRecordBytes {
public:
    // The most bytes a number takes.
    static constexpr std::size_t kNumberBytes = 10;

    CRecordBytes(std::string& out, std::size_t most) : m_out(out) {
        const std::size_t start = out.size();
        out.resize(start + most);
        m_p = out.data() + start;
    }
    ~CRecordBytes() { m_out.resize(static_cast<std::size_t>(m_p - m_out.data())); }
    CRecordBytes(const CRecordBytes&) = delete;
    CRecordBytes& operator=(const CRecordBytes&) = delete;

    void Byte(char c) { *m_p++ = c; }
    void Number(std::uint64_t value) {
        while (value >= 0x80) {
            *m_p++ = static_cast<char>((value & 0x7f) | 0x80);
            value >>= 7;
        }
        *m_p++ = static_cast<char>(value);
    }
    void Bytes(std::string_view bytes) {
        if (!bytes.empty())
            std::memcpy(m_p, bytes.data(), bytes.size());
        m_p += bytes.size();
    }
    void Text(std::string_view text) {
        Number(text.size());
        Bytes(text);
    }
    // Where the next byte goes, from the start of the string.
    std::size_t Offset() const { return static_cast<std::size_t>(m_p - m_out.data()); }

private:
    std::string& m_out;
    char* m_p;
};

}  // namespace tandril
