#include "css/css_fallbacks.h"

#include <algorithm>

namespace tandril {

CssFallbackFinder::CssFallbackFinder() {
    m_reader.TrackDeclarations(&m_tracker);
}

void CssFallbackFinder::Feed(const char* data, std::size_t size) {
    m_reader.Feed(data, size, m_output);
}

std::vector<std::uint64_t> CssFallbackFinder::Finish() {
    m_reader.Finish(m_output);
    std::vector<std::uint32_t>& replaced = m_tracker.m_replaced;
    std::sort(replaced.begin(), replaced.end());
    std::vector<std::uint64_t> offsets;
    for (const Tracker::Found& found : m_tracker.m_references) {
        if (std::binary_search(replaced.begin(), replaced.end(), found.declaration))
            offsets.push_back(found.offset);
    }
    return offsets;
}

void CssFallbackFinder::Tracker::Reference(std::uint64_t offset, std::uint32_t declaration) {
    m_references.push_back(Found{offset, declaration});
}

void CssFallbackFinder::Tracker::Declared(const CssDeclaration& d) {
    // Which of two declarations of different weight wins is not decided here.
    if (d.bang)
        return;
    if (m_blocks.empty() || m_blocks.back().number != d.block)
        m_blocks.push_back(Block{d.block, {}});
    std::vector<std::uint32_t>& earlier = m_blocks.back().live[std::string(d.name)];
    if (d.plain) {
        m_replaced.insert(m_replaced.end(), earlier.begin(), earlier.end());
        earlier.clear();
    }
    earlier.push_back(d.number);
}

void CssFallbackFinder::Tracker::BlockEnded(std::uint32_t block) {
    if (!m_blocks.empty() && m_blocks.back().number == block)
        m_blocks.pop_back();
}

}  // namespace tandril
