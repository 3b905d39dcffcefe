#include "url/local_path.h"

#include "url/url_text.h"

#include <string_view>

namespace tandril {

LocalName LocalNameForUrl(const std::string& url, const std::string& siteRoot) {
    std::string path = url.compare(0, siteRoot.size(), siteRoot) == 0 ? url.substr(siteRoot.size())
                                                                      : std::string("/");
    if (path.empty() || path[0] != '/') {
        path.insert(path.begin(), '/');
    }
    path = RemoveDotSegments(DecodeLocalName(path));

    LocalName name;
    const std::size_t slash = path.find_last_of('/');
    const std::string_view last = std::string_view(path).substr(slash + 1);
    if (last.empty() || last.find('.') == std::string_view::npos) {
        name.fileName = "index.htm";
        name.localDir.assign(path, 1, std::string::npos);
        if (!name.localDir.empty() && name.localDir.back() != '/') {
            name.localDir += '/';
        }
    } else {
        name.fileName.assign(last);
        name.localDir.assign(path, 1, slash);
    }
    if (name.localDir.empty()) {
        name.localDir.assign(1, '/');
    }
    return name;
}

std::string PageDirectory(const std::string& url, const std::string& siteRoot) {
    if (url.compare(0, siteRoot.size(), siteRoot) != 0) {
        return "/";
    }
    std::string d = url.substr(siteRoot.size());
    if (d.empty()) {
        return "/";
    }
    std::size_t slash = d.find_last_of('/');
    std::string last = slash == std::string::npos ? d : d.substr(slash + 1);
    if (!IsDirectorySegment(last) && slash != std::string::npos) {
        return d.substr(0, slash + 1);
    }
    if (d.back() != '/') {
        d += '/';
    }
    if (d[0] != '/') {
        d.insert(d.begin(), '/');
    }
    return d;
}

void CompleteDirectoryLink(std::string& link) {
    if (!link.empty() && link.back() == '/') {
        link += "index.htm";
        return;
    }
    std::size_t slash = link.find_last_of('/');
    std::string last = slash == std::string::npos ? link : link.substr(slash + 1);
    if (IsDirectorySegment(last) || last == "." || last == "..") {
        link += "/index.htm";
    }
}

}  // namespace tandril
