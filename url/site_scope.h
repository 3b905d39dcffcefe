#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "url/robots.h"
#include "url/site_hosts.h"
#include "url/uri.h"

namespace tandril {

// What a run does with a URL, whatever page links to it.
enum class ScopeVerdict {
    Site,           // a URL of the site that may be fetched
    Offsite,        // another host's (its embedded files may still be fetched)
    Excluded,       // a "skip" pattern matches it: neither fetched nor followed
    Refused,        // the host's robots.txt refuses it
    RobotsUnknown,  // of the site, on a host whose robots.txt is not known yet
    OutsideFolder,  // a hyperlink outside the start URL's folder ("Stay below")
};

// A user's pattern: "*" stands for any run of characters, and a pattern matches a URL
// whole. A pattern without "://" is matched against the URL from its host on
// ("*/forum/*", "*do=edit*", "cdn.example.com/*"). Host names compare in lower case.
bool UrlPatternMatches(std::string_view pattern, const UriRef& url);
// The reason a pattern cannot be used, or nothing: empty, control bytes, only stars.
std::optional<std::string> PatternProblem(std::string_view pattern);

// The site's scope: its hosts, the robots.txt rules of each of them, the user's
// patterns and the start folder. One question: what to do with a URL. Pure; owned
// by the job, used by one thread at a time.
class CSiteScope {
public:
    CSiteHosts hosts;
    std::vector<std::string> skip;    // "Skip URLs matching"
    std::vector<std::string> follow;  // "Also follow URLs matching" (other hosts join)
    bool obeyRobots = true;
    // Hyperlinks outside this folder (a path ending with "/") are not followed; empty
    // for no such limit.
    std::string startFolder;

    // `url` is absolute; `hyperlink` for a link kind 0. `onSiteHost` is hosts.Contains(url)
    // when the caller knows it already.
    ScopeVerdict Decide(const UriRef& url, bool hyperlink) const {
        return Decide(url, hyperlink, hosts.Contains(url));
    }
    ScopeVerdict Decide(const UriRef& url, bool hyperlink, bool onSiteHost) const;
    // True when `url` is of the site only through a "follow" pattern (it is saved in
    // the folder of its host, like another host's files).
    bool IsFollowedHost(const UriRef& url, bool onSiteHost) const;

    // scheme://host:port of a URL, the key of its robots.txt ("http://h:80").
    static std::string Origin(const UriRef& url);
    void SetRobots(const std::string& origin, CRobotsRules rules);
    const CRobotsRules* Robots(const std::string& origin) const;
    void ClearRobots() { m_robots.clear(); }

private:
    std::map<std::string, CRobotsRules> m_robots;
};

}  // namespace tandril
