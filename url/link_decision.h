#pragma once

namespace tandril {

// What a run does with a link once it is resolved. Every link of every page and
// stylesheet is decided here and only here.
enum class LinkAction {
    Keep,    // not a link of the site, or not one a run fetches: the text stays
    Follow,  // queue it, and write the text that leads to its local file
    Local,   // already queued: write the text that leads to its local file
    Live,    // not followed: write its absolute URL on the live site
};

// The facts about one resolved link that the decision rests on.
struct LinkFacts {
    bool onSite = false;     // http(s) on a host of the site (see CSiteHosts)
    bool offsite = false;    // http(s) on another host, whose embedded files are fetched
    bool hyperlink = false;  // link kind 0; embedded objects are fetched whatever the level
    bool cgi = false;        // its path holds "cgi-bin/" or "/bin/"
    bool visited = false;    // in the visited set of the run
    bool failed = false;     // visited, and could not be fetched
    bool levelLeft = false;  // the current level is below the level limit
    bool excluded = false;   // a "skip" pattern matches it
    bool refused = false;    // its host's robots.txt refuses it
    bool outside = false;    // a hyperlink outside the start folder ("Stay below")
    bool nofollow = false;   // a hyperlink of a page, or a tag, that asks not to be followed
    bool metadata = false;   // a LINK about the page (alternate, edit, search...)
    bool replaced = false;   // an embedded object no browser of today loads (a fallback)
};

constexpr LinkAction DecideLink(const LinkFacts& f) {
    // What the user's patterns or robots.txt keep out stays on the live site.
    if (f.excluded || f.refused)
        return f.visited ? LinkAction::Local : LinkAction::Live;
    if (!f.onSite) {
        // Of another host only what a page loads is fetched; its pages stay live.
        if (!f.offsite || f.hyperlink)
            return LinkAction::Keep;
        // Another host's file that could not be fetched is loaded from there.
        if (f.visited && f.failed)
            return LinkAction::Live;
        return f.visited ? LinkAction::Local : f.replaced ? LinkAction::Live : LinkAction::Follow;
    }
    if (!f.hyperlink)
        return f.visited ? LinkAction::Local : f.replaced ? LinkAction::Live : LinkAction::Follow;
    if (f.cgi)
        return LinkAction::Live;
    if (f.visited)
        return LinkAction::Local;
    return f.levelLeft && !f.outside && !f.nofollow && !f.metadata ? LinkAction::Follow
                                                                   : LinkAction::Live;
}

}  // namespace tandril
