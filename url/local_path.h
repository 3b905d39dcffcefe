#pragma once

#include <string>
#include <string_view>

#include "url/uri.h"

namespace tandril {

// Where a file is saved, below the download directory.
struct LocalName {
    std::string fileName;  // never contains "/"; "index.htm" for a directory URL
    std::string localDir;  // "/"-separated, ends with "/"; a single "/" for the top

    bool operator==(const LocalName&) const = default;
};

// What a saved file is, as far as its name is concerned: pages get ".html" and
// stylesheets ".css" where their names do not say so already.
enum class FileType { Other, Html, Stylesheet };

// The folder of the copy that holds the files of other hosts, one folder per host
// below it. No path of the site is saved under it: a name made from a URL holds "%"
// only as the start of an escape of two hexadecimal digits.
inline constexpr std::string_view kOffsiteFolder = "%offsite";

// Local names are pure functions of the URL (and, once known, of its type):
// - every segment is percent-decoded, "." and ".." resolved (the name never leaves
//   the download directory), then written so that it is valid on Linux, Windows and
//   macOS: control bytes, "\ : * ? \" < > | / %", bytes that are not UTF-8 and a
//   trailing dot or space become %XX, a reserved device name (CON, NUL, COM1...) gets
//   its first letter escaped, and a segment longer than kMaxSegmentBytes is cut and
//   given a hash of the whole name so that it stays distinct;
// - without a query a directory URL (ending with "/", or whose last segment has no
//   ".") is saved as its directory's "index.htm"; any other as its last segment;
// - with a query the file is "SEGMENT@QUERY" in the path's folder ("index.htm@QUERY"
//   for a path that ends with "/"); "@" is escaped in every other file name, so the
//   two never meet. The query keeps its escapes but for unreserved bytes, spaces and
//   bytes from 0x80, which are decoded.
// Distinct URLs get distinct base names; /a, /a/ and /a/index.htm are one file.
inline constexpr std::size_t kMaxSegmentBytes = 240;

// The name of a URL of the site before its type is known (the key of the visited set).
LocalName LocalNameForPath(std::string_view path);
LocalName LocalNameForUrl(const std::string& url);
LocalName BaseLocalName(const UriRef& url);
// The same for a URL of another host: below kOffsiteFolder/HOST/ (HOST in lower
// case, with ":PORT" escaped when it is not the scheme's default).
LocalName OffsiteLocalName(const UriRef& url);

// The name a file of `type` is saved under: a page's name is given ".html" and a
// stylesheet's ".css" unless it ends so already (a name with a query always gets it).
LocalName TypedLocalName(LocalName base, FileType type);
// The type a link's target is expected to have before it is fetched, from its name and
// from how it is linked: what a hyperlink to a ".php", ".asp" or extensionless URL
// gives is taken for a page; the same as an embedded object, for something else.
FileType PredictFileType(const LocalName& base, bool hyperlink);
// The type an answer has: its Content-Type (text/html and application/xhtml+xml are
// pages, text/css stylesheets, anything else neither); without one, its name.
FileType FileTypeOf(std::string_view contentType, const LocalName& base);

// The URL that a page's relative links are resolved against: its own URL with dot
// segments resolved (RFC 3986: the last segment is not a directory).
UriRef PageBase(const std::string& url);

// The directory path of a page URL, beginning and ending with "/": /docs/guide/ for
// .../docs/guide/intro.html and .../docs/guide/, /docs/ for .../docs/guide/..
std::string PageDirectory(const std::string& url);

// True when `reference`, a relative-path reference written in the file saved as
// `page`, leads to the local file `target` when both are opened from disk (a browser
// decodes its escapes): it does not climb above the download directory and names the
// file or, for an index.htm, its directory.
bool LeadsToLocalFile(std::string_view reference, const LocalName& page, const LocalName& target);

// The local file (as its path below the download directory, "dir/file") that a link
// value written in the file saved as `page` leads to when opened from disk: a relative
// path, or an absolute file URL below `targetDir`. Empty for anything else.
std::string LocalFileOfLink(std::string_view value, const LocalName& page,
                            const std::string& targetDir);
// "dir/file" for a local name ("file" at the top).
std::string LocalPathOf(const LocalName& name);

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
