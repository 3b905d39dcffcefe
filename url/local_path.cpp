#include "url/local_path.h"

#include <vector>

#include "url/url_text.h"

namespace tandril {
namespace {

bool IsDirectoryName(std::string_view last) {
    return last.find('.') == std::string_view::npos || last == "." || last == "..";
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

std::string LocalPathOf(const LocalName& name) {
    std::string path = "/";
    if (name.localDir != "/")
        path += name.localDir;
    return path + name.fileName;
}

}  // namespace

LocalName LocalNameForPath(std::string_view rawPath) {
    std::string path(rawPath);
    if (path.empty() || path[0] != '/')
        path.insert(path.begin(), '/');
    path = RemoveDotSegments(DecodeLocalName(path));

    LocalName name;
    const std::size_t slash = path.find_last_of('/');
    const std::string_view last = std::string_view(path).substr(slash + 1);
    if (last.empty() || IsDirectoryName(last)) {
        name.fileName = "index.htm";
        name.localDir.assign(path, 1, std::string::npos);
        if (!name.localDir.empty() && name.localDir.back() != '/')
            name.localDir += '/';
    } else {
        name.fileName.assign(last);
        name.localDir.assign(path, 1, slash);
    }
    if (name.localDir.empty())
        name.localDir.assign(1, '/');
    return name;
}

LocalName LocalNameForUrl(const std::string& url) {
    UriRef ref = ParseUriRef(url);
    if (ref.hasQuery)
        return LocalNameForPath(ref.path + "?" + ref.query);
    return LocalNameForPath(ref.path);
}

UriRef PageBase(const std::string& url) {
    UriRef base = ParseUriRef(url);
    base.hasFragment = false;
    base.fragment.clear();
    base.path = RemoveDotSegments(base.path.empty() ? std::string("/") : base.path);
    const std::size_t slash = base.path.find_last_of('/');
    if (IsDirectoryName(std::string_view(base.path).substr(slash + 1)) && base.path.back() != '/')
        base.path += '/';
    return base;
}

std::string PageDirectory(const std::string& url) {
    std::string path = PageBase(url).path;
    path.resize(path.find_last_of('/') + 1);
    return path;
}

bool LeadsToLocalFile(std::string_view reference, const LocalName& page, const LocalName& target) {
    if (reference.find_first_of("?#") != std::string_view::npos)
        return false;
    std::string from = LocalPathOf(page);
    from.resize(from.find_last_of('/') + 1);
    bool climbed = false;
    std::string resolved = RemoveDotSegments(from + std::string(reference), &climbed);
    // A climb that the server clamps at its root leaves the download directory on disk.
    if (climbed || DecodeLocalName(resolved).find("/../") != std::string::npos)
        return false;
    return LocalNameForPath(resolved) == target;
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
    return "file://" + EncodeLocalPath(targetDir + LocalPathOf(target).substr(1));
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
