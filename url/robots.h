#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tandril {

// The rules of one host's robots.txt for one crawler (RFC 9309). Pure: made from the
// file's text and asked about paths; owned by the run's scope.
class CRobotsRules {
public:
    // How a host answered for /robots.txt, when it gave no file to read.
    static CRobotsRules AllowAll();     // a 4xx answer (429 aside): no rules
    static CRobotsRules DisallowAll();  // a 5xx or 429 answer, or no answer at all

    // Reads at most kMaxBytes of `text`: the groups whose User-agent is `product`
    // (letter case ignored; the product token of the line is compared), else those of
    // "*", merged; Allow and Disallow with "*" and a final "$"; Crawl-delay.
    static CRobotsRules Parse(std::string_view text, std::string_view product);
    static constexpr std::size_t kMaxBytes = 500 * 1024;

    // `pathAndQuery` as it is requested ("/a/b?c", "/" for an empty path): the most
    // specific (longest) matching rule decides, Allow on a tie; none matching allows.
    // "/robots.txt" is always allowed.
    bool Allowed(std::string_view pathAndQuery) const;
    // The delay its Crawl-delay asks for, in milliseconds (0 without one).
    std::uint32_t CrawlDelayMs() const { return m_nCrawlDelayMs; }

private:
    struct Rule {
        std::string pattern;  // normalised (see NormaliseForRobots)
        bool allow = false;
    };
    std::vector<Rule> m_rules;
    bool m_bDisallowAll = false;
    std::uint32_t m_nCrawlDelayMs = 0;
};

// A path or pattern in the one form both are compared in: escapes of unreserved bytes
// decoded, other escapes with upper-case hex digits, bytes from 0x80 and spaces escaped.
std::string NormaliseForRobots(std::string_view text);

// True when `pattern` ("*" any run of bytes, "$" at its end the end of the path)
// matches the start of `path`.
bool RobotsPatternMatches(std::string_view pattern, std::string_view path);

}  // namespace tandril
