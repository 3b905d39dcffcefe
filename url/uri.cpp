#include "url/uri.h"

#include <vector>

namespace tandril {
namespace {

bool IsSchemeChar(unsigned char c, bool first) {
    bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    if (first)
        return letter;
    return letter || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
}

// RFC 3986, section 5.2.3.
std::string Merge(const UriRef& base, const std::string& refPath) {
    if (base.hasAuthority && base.path.empty())
        return "/" + refPath;
    std::size_t slash = base.path.find_last_of('/');
    if (slash == std::string::npos)
        return refPath;
    return base.path.substr(0, slash + 1) + refPath;
}

// True when a segment of the path is "." or "..".
bool HasDotSegment(std::string_view path) {
    for (std::size_t dot = path.find('.'); dot != std::string_view::npos;
         dot = path.find('.', dot + 1)) {
        if (dot > 0 && path[dot - 1] != '/')
            continue;
        std::size_t end = dot + 1;
        if (end < path.size() && path[end] == '.')
            ++end;
        if (end == path.size() || path[end] == '/')
            return true;
    }
    return false;
}

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

}  // namespace

UriRef ParseUriRef(std::string_view text) {
    UriRef ref;
    std::size_t i = 0;
    // scheme: letter, then scheme characters, then ":" before any "/", "?" or "#".
    if (!text.empty() && IsSchemeChar(static_cast<unsigned char>(text[0]), true)) {
        std::size_t j = 1;
        while (j < text.size() && IsSchemeChar(static_cast<unsigned char>(text[j]), false))
            ++j;
        if (j < text.size() && text[j] == ':') {
            ref.hasScheme = true;
            ref.scheme.assign(text.substr(0, j));
            i = j + 1;
        }
    }
    if (text.substr(i, 2) == "//") {
        std::size_t end = text.find_first_of("/?#", i + 2);
        if (end == std::string_view::npos)
            end = text.size();
        ref.hasAuthority = true;
        ref.authority.assign(text.substr(i + 2, end - i - 2));
        i = end;
    }
    std::size_t pathEnd = text.find_first_of("?#", i);
    if (pathEnd == std::string_view::npos)
        pathEnd = text.size();
    ref.path.assign(text.substr(i, pathEnd - i));
    i = pathEnd;
    if (i < text.size() && text[i] == '?') {
        std::size_t end = text.find('#', i);
        if (end == std::string_view::npos)
            end = text.size();
        ref.hasQuery = true;
        ref.query.assign(text.substr(i + 1, end - i - 1));
        i = end;
    }
    if (i < text.size() && text[i] == '#') {
        ref.hasFragment = true;
        ref.fragment.assign(text.substr(i + 1));
    }
    return ref;
}

std::string Serialize(const UriRef& ref) {
    std::string out;
    out.reserve(ref.scheme.size() + ref.authority.size() + ref.path.size() + ref.query.size() +
                ref.fragment.size() + 6);
    if (ref.hasScheme)
        out.append(ref.scheme).append(1, ':');
    if (ref.hasAuthority)
        out.append("//").append(ref.authority);
    out.append(ref.path);
    if (ref.hasQuery)
        out.append(1, '?').append(ref.query);
    if (ref.hasFragment)
        out.append(1, '#').append(ref.fragment);
    return out;
}

UriRef Resolve(const UriRef& base, const UriRef& ref) {
    UriRef t;
    if (ref.hasScheme) {
        t = ref;
        t.path = RemoveDotSegments(ref.path);
    } else {
        if (ref.hasAuthority) {
            t.hasAuthority = true;
            t.authority = ref.authority;
            t.path = RemoveDotSegments(ref.path);
            t.hasQuery = ref.hasQuery;
            t.query = ref.query;
        } else {
            if (ref.path.empty()) {
                t.path = base.path;
                t.hasQuery = ref.hasQuery || base.hasQuery;
                t.query = ref.hasQuery ? ref.query : base.query;
            } else {
                if (ref.path[0] == '/')
                    t.path = RemoveDotSegments(ref.path);
                else
                    t.path = RemoveDotSegments(Merge(base, ref.path));
                t.hasQuery = ref.hasQuery;
                t.query = ref.query;
            }
            t.hasAuthority = base.hasAuthority;
            t.authority = base.authority;
        }
        t.hasScheme = base.hasScheme;
        t.scheme = base.scheme;
    }
    t.hasFragment = ref.hasFragment;
    t.fragment = ref.fragment;
    return t;
}

std::string RemoveDotSegments(std::string_view path, bool* climbed) {
    if (climbed != nullptr)
        *climbed = false;
    if (!HasDotSegment(path))
        return std::string(path);
    // Segments of the output; a path is "/"-joined, so a leading "" segment stands for
    // the root.
    std::vector<std::string_view> out;
    const bool absolute = !path.empty() && path[0] == '/';
    std::size_t pos = absolute ? 1 : 0;
    bool endsAsDirectory = false;
    while (pos <= path.size()) {
        std::size_t end = path.find('/', pos);
        const bool last = end == std::string_view::npos;
        std::string_view seg = path.substr(pos, last ? std::string_view::npos : end - pos);
        if (seg == ".") {
            endsAsDirectory = last;
        } else if (seg == "..") {
            if (!out.empty())
                out.pop_back();
            else if (climbed != nullptr)
                *climbed = true;
            endsAsDirectory = last;
        } else {
            out.push_back(seg);
            endsAsDirectory = false;
        }
        if (last)
            break;
        pos = end + 1;
    }
    std::string result;
    result.reserve(path.size());
    for (std::size_t i = 0; i < out.size(); ++i) {
        if (i > 0 || absolute)
            result += '/';
        result.append(out[i]);
    }
    if (endsAsDirectory && (!result.empty() || absolute))
        result += '/';
    if (absolute && result.empty())
        result.assign(1, '/');
    return result;
}

HostPort SplitAuthority(std::string_view authority) {
    HostPort hp;
    std::size_t at = authority.rfind('@');
    if (at != std::string_view::npos)
        authority.remove_prefix(at + 1);
    std::size_t colon = authority.rfind(':');
    // An IPv6 literal holds colons of its own: the port follows its "]".
    std::size_t bracket = authority.rfind(']');
    if (colon != std::string_view::npos && (bracket == std::string_view::npos || colon > bracket)) {
        std::string_view port = authority.substr(colon + 1);
        authority = authority.substr(0, colon);
        unsigned value = 0;
        for (char c : port) {
            if (c < '0' || c > '9' || value > 65535) {
                hp.portValid = false;
                break;
            }
            value = value * 10 + static_cast<unsigned>(c - '0');
        }
        if (value > 65535)
            hp.portValid = false;
        hp.port = hp.portValid ? value : 0;
    }
    hp.host.assign(authority);
    for (char& c : hp.host)
        c = LowerAscii(c);
    return hp;
}

unsigned DefaultPort(std::string_view scheme) {
    auto equalsNoCase = [](std::string_view a, std::string_view b) {
        if (a.size() != b.size())
            return false;
        for (std::size_t i = 0; i < a.size(); ++i)
            if (LowerAscii(a[i]) != LowerAscii(b[i]))
                return false;
        return true;
    };
    if (equalsNoCase(scheme, "http"))
        return 80;
    if (equalsNoCase(scheme, "https"))
        return 443;
    return 0;
}

}  // namespace tandril
