#include "platform/cookies.h"

#include "platform/file.h"

namespace tandril {
namespace {

bool IsFlag(std::string_view field) {
    return field == "TRUE" || field == "FALSE";
}

bool IsNumber(std::string_view field) {
    if (field.empty())
        return false;
    for (std::size_t i = field[0] == '-' ? 1 : 0; i < field.size(); ++i) {
        if (field[i] < '0' || field[i] > '9')
            return false;
    }
    return field != "-";
}

}  // namespace

CookiesText ParseCookies(std::string_view text) {
    CookiesText out;
    if (text.substr(0, 3) == "\xEF\xBB\xBF")
        text.remove_prefix(3);
    int number = 0;
    while (!text.empty()) {
        ++number;
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.find_first_not_of(" \t") == std::string_view::npos)
            continue;
        const bool httpOnly = line.substr(0, 10) == "#HttpOnly_";
        if (line[0] == '#' && !httpOnly)
            continue;
        std::vector<std::string_view> fields;
        for (std::size_t pos = 0;;) {
            const std::size_t tab = line.find('\t', pos);
            fields.push_back(line.substr(pos, tab == std::string_view::npos ? tab : tab - pos));
            if (tab == std::string_view::npos)
                break;
            pos = tab + 1;
        }
        // The value may be empty, and some writers then leave out its tab.
        if (fields.size() == 6)
            fields.emplace_back();
        if (fields.size() != 7 || fields[0].size() <= (httpOnly ? 10u : 0u) || !IsFlag(fields[1]) ||
            !IsFlag(fields[3]) || !IsNumber(fields[4]) || fields[5].empty()) {
            out.badLine = number;
            out.cookies.clear();
            return out;
        }
        out.cookies.emplace_back(line);
    }
    return out;
}

bool ReadCookiesFile(const std::string& path, CookiesText& out) {
    constexpr std::size_t kMaxBytes = 16u << 20;
    std::string text;
    if (!ReadFileStart(path, kMaxBytes + 1, text) || text.size() > kMaxBytes)
        return false;
    out = ParseCookies(text);
    return out.badLine == 0;
}

}  // namespace tandril
