#include "url/robots.h"

#include <algorithm>
#include <cstdlib>

#include "url/url_text.h"

namespace tandril {
namespace {

bool IsUnreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

// The product token of a User-agent value: its leading letters, "_" and "-".
std::string_view ProductToken(std::string_view value) {
    std::size_t n = 0;
    while (n < value.size() &&
           ((value[n] >= 'a' && value[n] <= 'z') || (value[n] >= 'A' && value[n] <= 'Z') ||
            value[n] == '_' || value[n] == '-'))
        ++n;
    return value.substr(0, n);
}

// Keys, letter case ignored, and the common misspellings of them.
enum class Key { UserAgent, Allow, Disallow, CrawlDelay, Other };
Key KeyOf(std::string_view key) {
    for (std::string_view k : {"user-agent", "useragent", "user agent"})
        if (EqualsNoCase(key, k))
            return Key::UserAgent;
    if (EqualsNoCase(key, "allow"))
        return Key::Allow;
    for (std::string_view k : {"disallow", "dissallow", "dissalow", "disalow", "diasllow"})
        if (EqualsNoCase(key, k))
            return Key::Disallow;
    if (EqualsNoCase(key, "crawl-delay"))
        return Key::CrawlDelay;
    return Key::Other;
}

}  // namespace

std::string NormaliseForRobots(std::string_view text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '%' && i + 2 < text.size()) {
            const int hi = HexValue(static_cast<unsigned char>(text[i + 1]));
            const int lo = HexValue(static_cast<unsigned char>(text[i + 2]));
            if (hi >= 0 && lo >= 0) {
                const auto v = static_cast<unsigned char>(hi * 16 + lo);
                if (IsUnreserved(v)) {
                    out += static_cast<char>(v);
                } else {
                    out += '%';
                    out += kHex[hi];
                    out += kHex[lo];
                }
                i += 2;
                continue;
            }
        }
        if (c >= 0x80 || c <= 0x20 || c == 0x7F) {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

bool RobotsPatternMatches(std::string_view pattern, std::string_view path) {
    // The positions in `path` that the pattern read so far can end at, kept as a set
    // of flags: linear in both lengths whatever the stars.
    const bool anchored = !pattern.empty() && pattern.back() == '$';
    if (anchored)
        pattern.remove_suffix(1);
    std::vector<char> at(path.size() + 1, 0), next(path.size() + 1, 0);
    at[0] = 1;
    for (const char p : pattern) {
        std::fill(next.begin(), next.end(), 0);
        bool any = false;
        if (p == '*') {
            bool reached = false;
            for (std::size_t i = 0; i <= path.size(); ++i) {
                reached = reached || at[i];
                next[i] = reached;
                any = any || reached;
            }
        } else {
            for (std::size_t i = 0; i < path.size(); ++i) {
                if (at[i] && path[i] == p) {
                    next[i + 1] = 1;
                    any = true;
                }
            }
        }
        if (!any)
            return false;
        at.swap(next);
    }
    if (anchored)
        return at[path.size()] != 0;
    for (char reached : at)
        if (reached)
            return true;
    return false;
}

CRobotsRules CRobotsRules::AllowAll() {
    return CRobotsRules{};
}

CRobotsRules CRobotsRules::DisallowAll() {
    CRobotsRules rules;
    rules.m_bDisallowAll = true;
    return rules;
}

CRobotsRules CRobotsRules::Parse(std::string_view text, std::string_view product) {
    if (text.size() > kMaxBytes)
        text = text.substr(0, kMaxBytes);
    if (text.substr(0, 3) == "\xEF\xBB\xBF")
        text.remove_prefix(3);
    struct Group {
        bool mine = false, any = false;
        std::vector<Rule> rules;
        std::uint32_t delay = 0;
        bool hasDelay = false;
    };
    std::vector<Group> groups;
    bool inAgents = false;  // the last line was a User-agent line
    while (!text.empty()) {
        std::size_t end = text.find_first_of("\r\n");
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        line = Trim(line.substr(0, line.find('#')));
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos)
            continue;
        const Key key = KeyOf(Trim(line.substr(0, colon)));
        const std::string_view value = Trim(line.substr(colon + 1));
        if (key == Key::UserAgent) {
            if (!inAgents)
                groups.emplace_back();
            inAgents = true;
            const std::string_view token = ProductToken(value);
            if (value == "*")
                groups.back().any = true;
            else if (!token.empty() && EqualsNoCase(token, product))
                groups.back().mine = true;
            continue;
        }
        if (key == Key::Other)
            continue;
        inAgents = false;
        if (groups.empty())
            continue;  // rules before any User-agent line belong to no group
        Group& group = groups.back();
        if (key == Key::CrawlDelay) {
            char* stop = nullptr;
            const std::string number(value);
            const double seconds = std::strtod(number.c_str(), &stop);
            if (stop != number.c_str() && seconds >= 0 && seconds < 86400) {
                group.delay = static_cast<std::uint32_t>(seconds * 1000);
                group.hasDelay = true;
            }
        } else if (!value.empty()) {
            group.rules.push_back(Rule{NormaliseForRobots(value), key == Key::Allow});
        }
    }
    bool mine = false;
    for (const Group& g : groups)
        mine = mine || g.mine;
    CRobotsRules rules;
    for (const Group& g : groups) {
        if (mine ? !g.mine : !g.any)
            continue;
        rules.m_rules.insert(rules.m_rules.end(), g.rules.begin(), g.rules.end());
        if (g.hasDelay && g.delay > rules.m_nCrawlDelayMs)
            rules.m_nCrawlDelayMs = g.delay;
    }
    return rules;
}

bool CRobotsRules::Allowed(std::string_view pathAndQuery) const {
    if (m_rules.empty() && !m_bDisallowAll)
        return true;
    const std::string path = NormaliseForRobots(pathAndQuery.empty() ? "/" : pathAndQuery);
    if (path == "/robots.txt")
        return true;
    if (m_bDisallowAll)
        return false;
    std::size_t best = 0;
    bool allowed = true, matched = false;
    for (const Rule& rule : m_rules) {
        if (!RobotsPatternMatches(rule.pattern, path))
            continue;
        const std::size_t length = rule.pattern.size();
        if (!matched || length > best || (length == best && rule.allow && !allowed)) {
            best = length;
            allowed = rule.allow;
            matched = true;
        }
    }
    return allowed;
}

}  // namespace tandril
