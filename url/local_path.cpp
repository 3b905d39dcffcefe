#include "url/local_path.h"

#include <array>
#include <cstdint>
#include <vector>

#include "url/url_text.h"

namespace tandril {
namespace {

constexpr char kHex[] = "0123456789ABCDEF";

void AppendEscape(std::string& out, unsigned char c) {
    out += '%';
    out += kHex[c >> 4];
    out += kHex[c & 15];
}

// Bytes that no file name carries as they are on one of the three systems, and "%"
// (the escape's own sign) and "/" (a decoded %2F).
constexpr std::array<bool, 256> MakeNameEscapes() {
    std::array<bool, 256> t{};
    for (int c = 0; c < 0x20; ++c)
        t[c] = true;
    t[0x7F] = true;
    for (unsigned char c : std::string_view("\\:*?\"<>|%/"))
        t[c] = true;
    return t;
}
constexpr std::array<bool, 256> kNameEscapes = MakeNameEscapes();

// The length of the UTF-8 sequence at `i`, or 0 when the bytes there are not one.
std::size_t Utf8Length(std::string_view s, std::size_t i) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    std::size_t n = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c <= 0xDF ? 2 : 0;
    if (n == 0 || i + n > s.size())
        return 0;
    for (std::size_t k = 1; k < n; ++k) {
        if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80)
            return 0;
    }
    const unsigned char c1 = static_cast<unsigned char>(s[i + 1]);
    // Overlong forms, surrogates and values past Unicode are not UTF-8.
    if ((c == 0xE0 && c1 < 0xA0) || (c == 0xED && c1 >= 0xA0) || (c == 0xF0 && c1 < 0x90) ||
        (c == 0xF4 && c1 >= 0x90))
        return 0;
    return n;
}

// Writes decoded bytes as a valid name (without the length rule).
std::string EscapeBytes(std::string_view decoded, bool escapeAt) {
    std::string out;
    out.reserve(decoded.size());
    for (std::size_t i = 0; i < decoded.size();) {
        const unsigned char c = static_cast<unsigned char>(decoded[i]);
        if (c >= 0x80) {
            const std::size_t n = Utf8Length(decoded, i);
            if (n == 0) {
                AppendEscape(out, c);
                ++i;
            } else {
                out.append(decoded, i, n);
                i += n;
            }
            continue;
        }
        if (kNameEscapes[c] || (escapeAt && c == '@'))
            AppendEscape(out, c);
        else
            out += static_cast<char>(c);
        ++i;
    }
    return out;
}

bool IsReservedDeviceName(std::string_view name) {
    // The part before the first "." counts: "con.txt" is as reserved as "con".
    std::string_view stem = name.substr(0, name.find('.'));
    while (!stem.empty() && stem.back() == ' ')
        stem.remove_suffix(1);
    static constexpr std::string_view kNames[] = {"con", "prn", "aux", "nul", "conin$", "conout$"};
    for (std::string_view reserved : kNames) {
        if (EqualsNoCase(stem, reserved))
            return true;
    }
    if (stem.size() == 4 &&
        (EqualsNoCase(stem.substr(0, 3), "com") || EqualsNoCase(stem.substr(0, 3), "lpt")))
        return stem[3] >= '0' && stem[3] <= '9';
    return false;
}

// The rules of the three systems that look at a whole name: no reserved device name,
// no trailing dot or space.
void MakeValidName(std::string& name) {
    if (IsReservedDeviceName(name)) {
        const unsigned char first = static_cast<unsigned char>(name[0]);
        name.erase(0, 1);
        std::string escaped;
        AppendEscape(escaped, first);
        name.insert(0, escaped);
    }
    if (!name.empty() && (name.back() == '.' || name.back() == ' ')) {
        const unsigned char last = static_cast<unsigned char>(name.back());
        name.pop_back();
        AppendEscape(name, last);
    }
}

std::uint64_t Fnv1a(std::string_view text) {
    std::uint64_t h = 0xCBF29CE484222325ull;
    for (unsigned char c : text) {
        h ^= c;
        h *= 0x100000001B3ull;
    }
    return h;
}

// Cuts a name to `limit` bytes: its head, "~", sixteen hex digits of the hash of
// `whole`, and its extension when that is short. The cut never splits an escape or a
// UTF-8 sequence.
std::string Shorten(const std::string& name, std::string_view whole, std::size_t limit) {
    std::string ext;
    const std::size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && name.size() - dot <= 12 &&
        name.find_first_of("@%", dot) == std::string::npos)
        ext = name.substr(dot);
    std::string tail = "~";
    std::uint64_t h = Fnv1a(whole);
    for (int i = 15; i >= 0; --i)
        tail += kHex[(h >> (i * 4)) & 15];
    tail += ext;
    std::size_t cut = limit - tail.size();
    // Back off to the start of an escape or of a UTF-8 sequence.
    for (std::size_t back = 0; back < 3 && cut > back; ++back) {
        if (name[cut - back - 1] == '%') {
            cut -= back + 1;
            break;
        }
    }
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80)
        --cut;
    std::string out = name.substr(0, cut) + tail;
    MakeValidName(out);
    return out;
}

// Decodes the %XX escapes whose byte `decodes` accepts (every one without it).
std::string PercentDecode(std::string_view text, bool (*decodes)(unsigned char) = nullptr) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            const int hi = HexValue(static_cast<unsigned char>(text[i + 1]));
            const int lo = HexValue(static_cast<unsigned char>(text[i + 2]));
            const auto c = static_cast<unsigned char>(hi * 16 + lo);
            if (hi >= 0 && lo >= 0 && (!decodes || decodes(c))) {
                out += static_cast<char>(c);
                i += 2;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

// Bytes whose meaning in a query does not depend on being escaped: unreserved bytes,
// space, and the bytes a URL cannot carry as they are.
bool MeansTheSameEscaped(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~' || c == ' ' || c >= 0x80 ||
           std::string_view("\"<>\\^`{|}").find(static_cast<char>(c)) != std::string_view::npos;
}

// A query as it stands in a name: escapes of bytes that mean the same escaped or not
// are decoded; the others stay as written, their "%" escaped with the rest.
std::string QueryForName(std::string_view query) {
    return EscapeBytes(PercentDecode(query, MeansTheSameEscaped), false);
}

std::string DirName(std::string_view decoded, std::string_view whole) {
    std::string name = EscapeBytes(decoded, false);
    MakeValidName(name);
    if (name.size() > kMaxSegmentBytes)
        name = Shorten(name, whole, kMaxSegmentBytes);
    return name;
}

// A file name leaves room for the ".html" that its type may add.
constexpr std::size_t kMaxBaseFileBytes = kMaxSegmentBytes - 5;

LocalName NameOf(std::string_view rawPath, const std::string* query, std::string_view prefix) {
    // Segments are decoded one by one, so that %2F stays inside its segment; "." and
    // ".." are resolved on the decoded segments, as a browser resolves %2E%2E.
    std::vector<std::string> segments;
    bool directory = true;
    std::size_t pos = rawPath.empty() || rawPath[0] != '/' ? 0 : 1;
    while (pos <= rawPath.size()) {
        std::size_t end = rawPath.find('/', pos);
        if (end == std::string_view::npos)
            end = rawPath.size();
        const bool last = end == rawPath.size();
        std::string segment = PercentDecode(rawPath.substr(pos, end - pos));
        if (segment == "..") {
            if (!segments.empty())
                segments.pop_back();
            directory = true;
        } else if (segment == ".") {
            directory = true;
        } else if (segment.empty()) {
            directory = last ? true : directory;
        } else {
            segments.push_back(std::move(segment));
            directory = false;
        }
        pos = end + 1;
    }
    std::string whole(prefix);
    whole.append(rawPath);
    if (query)
        whole.append(1, '?').append(*query);

    LocalName name;
    std::string file;
    if (query) {
        file = directory || segments.empty() ? std::string("index.htm") : segments.back();
        if (!directory && !segments.empty())
            segments.pop_back();
        file = EscapeBytes(file, true) + "@" + QueryForName(*query);
    } else if (!directory && segments.back().find('.') != std::string::npos) {
        file = EscapeBytes(segments.back(), true);
        segments.pop_back();
    } else {
        file = "index.htm";
    }
    MakeValidName(file);
    if (file.size() > kMaxBaseFileBytes)
        file = Shorten(file, whole, kMaxBaseFileBytes);
    name.fileName = std::move(file);
    name.localDir.assign(prefix);
    for (const std::string& segment : segments)
        name.localDir.append(DirName(segment, whole)).append(1, '/');
    if (name.localDir.empty())
        name.localDir.assign(1, '/');
    return name;
}

bool EndsWithNoCase(std::string_view name, std::string_view tail) {
    return name.size() >= tail.size() && EqualsNoCase(name.substr(name.size() - tail.size()), tail);
}

bool IsQueryName(const std::string& fileName) {
    return fileName.find('@') != std::string::npos;
}

// The extension of a file name's path part, in lower case ("" without one).
std::string ExtensionOf(const std::string& fileName) {
    const std::string path = fileName.substr(0, fileName.find('@'));
    const std::size_t dot = path.find_last_of('.');
    if (dot == std::string::npos)
        return "";
    std::string ext = path.substr(dot + 1);
    for (char& c : ext)
        c = c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
    return ext;
}

// "dir/" path of a name, from the top, without the leading "/".
std::string DirPathOf(const LocalName& name) {
    return name.localDir == "/" ? std::string() : name.localDir;
}

// "docs/guide/" -> {"docs", "guide"}; "/" and "" -> {}.
std::vector<std::string_view> DirSegments(std::string_view dir) {
    std::vector<std::string_view> out;
    std::size_t pos = 0;
    while (pos < dir.size()) {
        std::size_t slash = dir.find('/', pos);
        if (slash == std::string_view::npos)
            slash = dir.size();
        if (slash > pos)
            out.push_back(dir.substr(pos, slash - pos));
        pos = slash + 1;
    }
    return out;
}

// The path below the download directory that a browser opens for a relative
// reference written in `page`; empty when it climbs out of the copy or is no path.
std::string DiskPathOfReference(std::string_view reference, const LocalName& page) {
    if (reference.find_first_of("?#") != std::string_view::npos)
        return "";
    // The page's folder as a browser has it: its file URL, escaped.
    const std::string from = "/" + EncodeLocalPath(DirPathOf(page));
    bool climbed = false;
    // A browser takes %2E for "." when it resolves dot segments.
    std::string ref(reference);
    for (std::size_t p = ref.find('%'); p != std::string::npos; p = ref.find('%', p + 1)) {
        if (p + 2 < ref.size() && ref[p + 1] == '2' && (ref[p + 2] == 'E' || ref[p + 2] == 'e'))
            ref.replace(p, 3, ".");
    }
    const std::string resolved = RemoveDotSegments(from + ref, &climbed);
    if (climbed)
        return "";
    return PercentDecode(resolved).substr(1);
}

bool SameLocalFile(const std::string& path, const LocalName& target) {
    const std::string dir = DirPathOf(target);
    if (path == dir + target.fileName)
        return true;
    // A directory stands for its index.htm.
    return target.fileName == "index.htm" && (path == dir || path + "/" == dir);
}

}  // namespace

LocalName LocalNameForPath(std::string_view path) {
    return NameOf(path, nullptr, "");
}

LocalName LocalNameForUrl(const std::string& url) {
    return BaseLocalName(ParseUriRef(url));
}

LocalName BaseLocalName(const UriRef& url) {
    return NameOf(url.path, url.hasQuery ? &url.query : nullptr, "");
}

LocalName OffsiteLocalName(const UriRef& url) {
    const HostPort hp = SplitAuthority(url.authority);
    std::string host = hp.host;
    if (hp.port != 0 && hp.port != DefaultPort(url.scheme))
        host += ":" + std::to_string(hp.port);
    std::string prefix(kOffsiteFolder);
    prefix += '/';
    prefix += DirName(host, host);
    prefix += '/';
    return NameOf(url.path, url.hasQuery ? &url.query : nullptr, prefix);
}

LocalName TypedLocalName(LocalName base, FileType type) {
    const bool query = IsQueryName(base.fileName);
    if (type == FileType::Html && (query || !(EndsWithNoCase(base.fileName, ".html") ||
                                              EndsWithNoCase(base.fileName, ".htm"))))
        base.fileName += ".html";
    else if (type == FileType::Stylesheet && (query || !EndsWithNoCase(base.fileName, ".css")))
        base.fileName += ".css";
    return base;
}

FileType PredictFileType(const LocalName& base, bool hyperlink) {
    const std::string ext = ExtensionOf(base.fileName);
    if (ext == "html" || ext == "htm" || ext == "xhtml" || ext == "shtml")
        return FileType::Html;
    if (ext == "css")
        return FileType::Stylesheet;
    static constexpr std::string_view kScripts[] = {"",    "php",  "php3", "php4",  "php5", "phtml",
                                                    "asp", "aspx", "jsp",  "jspx",  "cfm",  "cgi",
                                                    "pl",  "py",   "do",   "action"};
    for (std::string_view script : kScripts) {
        if (ext == script)
            return hyperlink ? FileType::Html : FileType::Other;
    }
    return FileType::Other;
}

FileType FileTypeOf(std::string_view contentType, const LocalName& base) {
    std::string_view type = contentType.substr(0, contentType.find(';'));
    while (!type.empty() && IsWhiteSpace(static_cast<unsigned char>(type.back())))
        type.remove_suffix(1);
    while (!type.empty() && IsWhiteSpace(static_cast<unsigned char>(type.front())))
        type.remove_prefix(1);
    if (type.empty()) {
        const std::string ext = ExtensionOf(base.fileName);
        if (ext == "html" || ext == "htm")
            return FileType::Html;
        return ext == "css" ? FileType::Stylesheet : FileType::Other;
    }
    if (EqualsNoCase(type, "text/html") || EqualsNoCase(type, "application/xhtml+xml"))
        return FileType::Html;
    if (EqualsNoCase(type, "text/css"))
        return FileType::Stylesheet;
    return FileType::Other;
}

UriRef PageBase(const std::string& url) {
    UriRef base = ParseUriRef(url);
    base.hasFragment = false;
    base.fragment.clear();
    base.path = RemoveDotSegments(base.path.empty() ? std::string("/") : base.path);
    return base;
}

std::string PageDirectory(const std::string& url) {
    std::string path = PageBase(url).path;
    path.resize(path.find_last_of('/') + 1);
    return path;
}

std::string LocalPathOf(const LocalName& name) {
    return DirPathOf(name) + name.fileName;
}

bool LeadsToLocalFile(std::string_view reference, const LocalName& page, const LocalName& target) {
    const std::string path = DiskPathOfReference(reference, page);
    if (path.empty() && !(reference.empty() || reference == "." || reference == "./"))
        return false;
    return SameLocalFile(path, target);
}

std::string LocalFileOfLink(std::string_view value, const LocalName& page,
                            const std::string& targetDir) {
    value = value.substr(0, value.find('#'));
    const std::string_view fileScheme = "file://";
    if (value.size() >= fileScheme.size() && EqualsNoCase(value.substr(0, 7), fileScheme)) {
        const std::string path = PercentDecode(value.substr(fileScheme.size()));
        if (path.compare(0, targetDir.size(), targetDir) != 0 ||
            path.find('?') != std::string::npos)
            return "";
        return RemoveDotSegments(path).substr(targetDir.size());
    }
    const UriRef ref = ParseUriRef(value);
    if (ref.hasScheme || ref.hasAuthority || (!ref.path.empty() && ref.path[0] == '/'))
        return "";
    std::string path = DiskPathOfReference(value, page);
    if (path.empty() || path.back() == '/') {
        if (path.empty() && !value.empty() && value != "." && value != "./")
            return "";
        path += "index.htm";
    }
    return path;
}

void CompleteDirectoryLink(std::string& reference, const LocalName& target) {
    if (target.fileName != "index.htm")
        return;
    const std::size_t slash = reference.find_last_of('/');
    const std::string_view last = slash == std::string::npos
                                      ? std::string_view(reference)
                                      : std::string_view(reference).substr(slash + 1);
    if (last == "index.htm")
        return;
    if (reference.empty() || reference == "." || reference == "./") {
        reference = "index.htm";
    } else if (reference.back() == '/') {
        reference += "index.htm";
    } else {
        reference += "/index.htm";
    }
}

std::string AbsoluteLocalLink(const std::string& targetDir, const LocalName& target) {
    return "file://" + EncodeLocalPath(targetDir + LocalPathOf(target));
}

std::string RelativeLocalLink(const LocalName& page, const LocalName& target) {
    const auto from = DirSegments(page.localDir);
    const auto to = DirSegments(target.localDir);
    std::size_t common = 0;
    while (common < from.size() && common < to.size() && from[common] == to[common])
        ++common;
    std::string link;
    for (std::size_t i = common; i < from.size(); ++i)
        link += "../";
    for (std::size_t i = common; i < to.size(); ++i) {
        link += EncodeLocalPath(std::string(to[i]));
        link += '/';
    }
    link += EncodeLocalPath(target.fileName);
    // A first segment with ":" would read as a scheme.
    const std::size_t colon = link.find(':');
    if (colon != std::string::npos && link.find('/') > colon)
        link.insert(0, "./");
    return link;
}

}  // namespace tandril
