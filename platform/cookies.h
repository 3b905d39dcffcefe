#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tandril {

// The cookies of a Netscape cookies.txt, as curl, Wget and browser extensions write
// it: one cookie a line, seven fields separated by tabs (domain, whether subdomains
// match, path, whether only over https, expiry as seconds since 1970, name, value);
// "#HttpOnly_" before the domain marks a cookie hidden from scripts. Empty lines and
// other lines that begin with "#" are comments. Pure.
struct CookiesText {
    std::vector<std::string> cookies;  // each cookie line, as libcurl takes it
    int badLine = 0;                   // the first line that is none of these (from 1), or 0
};
CookiesText ParseCookies(std::string_view text);

// Reads a cookies file of at most 16 MiB; false when it cannot be read (missing, a
// directory, too large) or is not a cookies.txt (`badLine` then says where).
bool ReadCookiesFile(const std::string& path, CookiesText& out);

}  // namespace tandril
