#pragma once

#include <string>
#include <string_view>

namespace tandril {

// A URI reference cut into its five parts as RFC 3986 (appendix B) cuts it. Nothing
// is decoded or case-folded: each part is the text as written, so a reference that
// is parsed and serialised again comes out byte for byte as it went in.
struct UriRef {
    std::string scheme;  // without ":"
    std::string authority;
    std::string path;
    std::string query;     // without "?"
    std::string fragment;  // without "#"
    bool hasScheme = false;
    bool hasAuthority = false;
    bool hasQuery = false;
    bool hasFragment = false;
};

UriRef ParseUriRef(std::string_view text);
std::string Serialize(const UriRef& ref);

// Resolves `ref` against the absolute `base` (RFC 3986, section 5.2.2, strict).
UriRef Resolve(const UriRef& base, const UriRef& ref);

// Removes "." and ".." segments (RFC 3986, section 5.2.4). A ".." at the top is
// dropped; `climbed` (when given) is set when that happened.
std::string RemoveDotSegments(std::string_view path, bool* climbed = nullptr);

// The host and port of an authority: user information dropped, the host lowered
// in ASCII, the port as a number (0 when none is written or it is not a number).
struct HostPort {
    std::string host;
    unsigned port = 0;
    bool portValid = true;
};
HostPort SplitAuthority(std::string_view authority);

// 80 for http, 443 for https (any letter case), 0 for anything else.
unsigned DefaultPort(std::string_view scheme);

}  // namespace tandril
