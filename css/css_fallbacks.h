#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "css/css_reader.h"

namespace tandril {

// Finds the references of a stylesheet that no browser of today loads: those of a
// declaration that a later declaration of the same property in the same block replaces,
// when that later one is plain (see CssDeclaration) and neither is marked "!". Sites
// name a PNG for old browsers and then the SVG behind a gradient that only newer ones
// read (MediaWiki's icons do, for every icon and its variants). A declaration a browser
// might reject replaces nothing, so nothing a browser may still use is ever named.
// Pure; memory grows with the references and the declarations of the open blocks.
class CssFallbackFinder {
public:
    CssFallbackFinder();
    CssFallbackFinder(const CssFallbackFinder&) = delete;
    CssFallbackFinder& operator=(const CssFallbackFinder&) = delete;

    void Feed(const char* data, std::size_t size);
    // Ends the document: the offsets of the replaced references (as CssReader reports
    // them, the document's first byte at 0), ascending.
    std::vector<std::uint64_t> Finish();

private:
    class Tracker : public CssDeclarationSink {
    public:
        void Reference(std::uint64_t offset, std::uint32_t declaration) override;
        void Declared(const CssDeclaration& declaration) override;
        void BlockEnded(std::uint32_t block) override;

        struct Found {
            std::uint64_t offset;
            std::uint32_t declaration;
        };
        std::vector<Found> m_references;
        std::vector<std::uint32_t> m_replaced;  // declarations a later one replaces
        struct Block {
            std::uint32_t number;
            // Per property, its declarations not yet replaced.
            std::unordered_map<std::string, std::vector<std::uint32_t>> live;
        };
        std::vector<Block> m_blocks;  // blocks with declarations, innermost last
    };
    class NoOutput : public ScanSink {
        void Write(const char*, std::size_t) override {}
        void Link(std::string&, int, std::uint64_t) override {}
    };

    Tracker m_tracker;
    NoOutput m_output;
    CssReader m_reader;
};

}  // namespace tandril
