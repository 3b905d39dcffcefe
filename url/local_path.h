#pragma once

#include <string>

namespace tandril {

struct LocalName {
    std::string fileName;  // never contains "/"; "index.htm" for a directory URL
    std::string localDir;  // "/"-separated, ends with "/"; a single "/" for the top
};

// Where a URL of the site is saved, below the download directory. `url` begins with
// `siteRoot`. Percent escapes are decoded (but %2F and %00) and "." and ".." segments
// resolved, so the result never leaves the download directory.
LocalName LocalNameForUrl(const std::string& url, const std::string& siteRoot);

// The directory path of a URL of the site below its root, beginning and ending with
// "/": /docs/guide/ for .../docs/guide/intro.html, .../docs/guide/ and .../docs/guide.
std::string PageDirectory(const std::string& url, const std::string& siteRoot);

// Appends "index.htm" to a link that names a directory ("sub" -> "sub/index.htm",
// "sub/" -> "sub/index.htm"); a link whose last segment has a "." is left alone.
void CompleteDirectoryLink(std::string& link);

}  // namespace tandril
