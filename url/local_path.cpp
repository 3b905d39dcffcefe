#include "url/local_path.h"

#include "url/url_text.h"

namespace tandril {

LocalName LocalNameForUrl(const std::string& url, const std::string& siteRoot) {
    std::string path = url.compare(0, siteRoot.size(), siteRoot) == 0 ? url.substr(siteRoot.size())
                                                                       : std::string("/");
    if (path.empty() || path[0] != '/') {
        path.insert(0, "/");
    }
    path = RemoveDotSegments(DecodeLocalName(path));

    LocalName name;
    std::size_t slash = path.find_last_of('/');
    std::string last = path.substr(slash + 1);
    if (last.empty() || IsDirectorySegment(last)) {
        name.fileName = "index.htm";
        name.localDir = path.substr(1);
        if (!name.localDir.empty() && name.localDir.back() != '/') {
            name.localDir += '/';
        }
    } else {
        name.fileName = last;
        name.localDir = path.substr(1, slash);
    }
    if (name.localDir.empty()) {
        name.localDir = "/";
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
        d.insert(0, "/");
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
