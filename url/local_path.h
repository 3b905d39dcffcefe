#pragma once

#include <string>
#include <string_view>

#include "url/uri.h"

namespace tandril {

// Where a file of the site is saved, below the download directory.
struct LocalName {
    std::string fileName;  // never contains "/"; "index.htm" for a directory URL
    std::string localDir;  // "/"-separated, ends with "/"; a single "/" for the top

    bool operator==(const LocalName&) const = default;
};

// The local name of a URL path (the query, when the URL has one, belongs to the last
// segment). Percent escapes are decoded (but %2F, %00 and control bytes) and "." and
// ".." segments resolved, so the result never leaves the download directory. Every
// scheme and host of the site shares this one tree.
LocalName LocalNameForPath(std::string_view path);
LocalName LocalNameForUrl(const std::string& url);

// The URL that a page's relative links are resolved against: its own URL with dot
// segments resolved and, when its last segment names a directory (no ".", or "." or
// ".."), a "/" after it, since such a page is saved as that directory's index.htm.
UriRef PageBase(const std::string& url);

// The directory path of a page URL, beginning and ending with "/": /docs/guide/ for
// .../docs/guide/intro.html, .../docs/guide/, .../docs/guide and .../docs/guide/x/..
std::string PageDirectory(const std::string& url);

// True when `reference`, a relative-path reference written in the file saved as
// `page`, leads to the local file `target` when both are opened from disk: it does not
// climb above the download directory and names the file or, for an index.htm, its
// directory.
bool LeadsToLocalFile(std::string_view reference, const LocalName& page, const LocalName& target);

// Completes a relative reference that leads to `target` (see above) so that it names
// the file itself: "sub" and "sub/" become "sub/index.htm", "./" and "" "index.htm";
// a reference that already names the file is left alone.
void CompleteDirectoryLink(std::string& reference, const LocalName& target);

// A local file as an absolute file URL below `targetDir` (an absolute directory that
// ends with "/"), percent-encoded.
std::string AbsoluteLocalLink(const std::string& targetDir, const LocalName& target);

// A local file as the relative path from the directory of the file saved as `page`,
// percent-encoded: what a portable copy writes.
std::string RelativeLocalLink(const LocalName& page, const LocalName& target);

}  // namespace tandril
