#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "css/css_reader.h"
#include "engine/copy_record.h"
#include "engine/link_fixups.h"
#include "engine/page_pass.h"
#include "engine/visited_set.h"
#include "html/html_scanner.h"
#include "platform/file.h"
#include "platform/internet.h"
#include "platform/transfers.h"
#include "url/link_decision.h"
#include "url/link_text_cache.h"
#include "url/local_path.h"
#include "url/site_scope.h"
#include "url/uri.h"

namespace tandril {

class CProgressLog;

// Link kinds passed from the scanner to HandleLink.
constexpr int kHyperlink = 0;
constexpr int kEmbeddedObject = 1;
// What the link hook (not HandleLink) receives for a quoted BASE HREF value.
constexpr int kBaseHref = 2;
// A hyperlink whose tag says rel="nofollow".
constexpr int kNofollowLink = 3;
// A LINK about the page (rel="alternate", "edit", "search"...): not followed.
constexpr int kMetadataLink = 4;
// A stylesheet's reference that a later declaration replaces (CssFallbackFinder): no
// browser of today loads it, so it is not fetched and leads to the live site.
constexpr int kReplacedObject = 5;

// A URL waiting to be fetched. strLocalDir uses "/" separators and ends with "/";
// it is a single "/" for the download directory itself. strFileName is the name its
// link expects; strBaseName the name before its type is known (see local_path.h).
struct CQueueEntry {
    std::string strUrl;
    std::uint32_t nLevel = 0;
    std::string strFileName;
    std::string strLocalDir;
    std::string strBaseName;
    std::uint32_t nId = CVisitedSet::kNone;  // its entry in the visited set
};

// The limits of a run, its tallies and the link choice. Lives as long as the job;
// the tallies keep their values from the end of one run to the start of the next.
struct CMirrorLimits {
    std::uint32_t m_nFiles = 0;
    std::uint32_t m_nMegaBytes = 0;
    std::uint32_t m_nByteRest = 0;
    std::uint32_t m_nKiloRest = 0;
    std::uint32_t m_nMaxLevels = 0;
    std::uint32_t m_nMaxMegaBytes = 5;
    // Transfers at once (1 to 16): the downloads are still taken one by one in queue
    // order, so every number saves the same copy.
    std::uint32_t m_nMaxConnections = 6;
    std::uint32_t m_nMaxFiles = 200;
    bool m_bModifyLinks = true;
    // With links modified: links to files of the copy are written as relative paths
    // (a portable copy) instead of absolute file URLs.
    bool m_bRelativeLinks = false;
    // Stylesheets, scripts, fonts, images and media of other hosts are fetched and
    // saved below the copy's folder for other hosts.
    bool m_bOffsiteEmbedded = true;
    // robots.txt, the robots meta tag and rel=nofollow are obeyed.
    bool m_bObeyRobots = true;
    // The least time between two requests to one host, in milliseconds.
    std::uint32_t m_nPauseMs = 0;
    // Hyperlinks outside the start URL's folder are not followed.
    bool m_bNoParent = false;
    // URLs matching one of these are neither fetched nor followed; other hosts' URLs
    // matching one of those are part of the site (see UrlPatternMatches).
    std::vector<std::string> m_skipPatterns;
    std::vector<std::string> m_followPatterns;
    // A Netscape cookies.txt whose cookies every request of a run may send (read at
    // the start of a run, never written); empty for none.
    std::string m_strCookiesFile;
    bool m_bFirstPage = true;
    std::string m_strStartPage;

    // Adds a chunk of n bytes to the tally of whole megabytes.
    void CountBytes(std::uint32_t n);
};

// The whole state of a mirroring run. One object serves many runs (the program keeps
// one for its life; tests build as many as they like).
//
// Threads: the interface thread writes it only while no run is active; during a run
// only the worker thread touches it. No lock is taken.
class CMirrorJob {
public:
    static constexpr std::size_t kBufferSize = 4096;
    static constexpr const char* kTempFileName = "~tmp~99~.tmp";
    static constexpr const char* kPageTempFileName = "~tmp~98~.tmp";

    CMirrorJob();
    ~CMirrorJob();
    CMirrorJob(const CMirrorJob&) = delete;
    CMirrorJob& operator=(const CMirrorJob&) = delete;

    // Sets a run up from the start URL (trimmed in place). False, with nothing else
    // changed, unless it is an "http://" or "https://" URL with a host.
    bool Start(std::string& url);
    // Checks the patterns of the limits; on the first that cannot be used shows message
    // 132 and returns false (the run is not to start).
    bool CheckPatterns() const;
    // What the worker does with the current URL before it is fetched.
    enum class FetchCheck { Fetch, NeedRobots, Refused, Excluded };
    FetchCheck CheckUrl(const std::string& url) const;
    // Log lines the link handling left (URLs refused by robots.txt, pages that ask not
    // to be followed); the worker adds them to the log after each file.
    void FlushNotes(CProgressLog& log);
    // The last log line of a run whose pages asked not to be followed (or nothing).
    std::string NofollowSummary() const;
    // Reads the cookies file of the limits into the network options; on failure shows
    // message 125 or 126 and returns false (the run is not to start).
    bool LoadCookies();
    // Makes the next queued URL current; false when the queue is empty or its head
    // lies beyond the level limit (the run is done).
    bool NextUrl();

    // URL queue and visited set (engine/url_queue.cpp). EnqueueUrl returns false when
    // the URL was visited already (nothing changes then).
    bool EnqueueUrl(const std::string& url, int kind);
    // True when a URL that would be saved as the same local file is queued already.
    bool IsVisited(const std::string& url) const;
    // The same for a URL whose base name is known, to be saved as `name` until its
    // type is known; the id of its visited entry, or CVisitedSet::kNone.
    std::uint32_t EnqueueUrl(const std::string& url, int kind, const LocalName& base,
                             LocalName name);
    bool IsVisited(const LocalName& base) const;
    void ResetUrlState();

    // Gives the current download the name its type calls for (the answer's
    // Content-Type, see FileTypeOf) and marks its URL fetched; pages written with
    // another name for it are noted for FixLinks.
    FileType TakeFileType(const std::string& contentType);
    // Marks the current URL as one the run could not fetch. Links to a file of another
    // host, or to one the run may not fetch (`keptOut`), are then written, and rewritten
    // in the pages saved so far, as its URL.
    // `state` and `reason` are what the record keeps of it.
    void TakeFailure(bool keptOut = false, UrlState state = UrlState::Failed,
                     const std::string& reason = std::string());
    // Rewrites the saved pages whose links lead to a name their target did not get;
    // a page that cannot be rewritten is logged (message 114). While recording,
    // `replacing` is told each page's new size before the page is replaced.
    void FixLinks(CProgressLog& log, const CLinkFixups::ReplacingFn& replacing = {});

    // The record of the copy (engine/copy_state.cpp). While m_bRecording is set, the run's
    // changes are kept in m_changes until the worker hands them to the record after each
    // file.
    CopySettings CurrentCopySettings() const;
    // Takes the settings that shape a copy (link mode, portable links, other hosts'
    // files) from the record of a copy being continued or updated.
    void TakeCopySettings(const CopySettings& settings);
    // Makes the visited set, the queue, the pages to correct and the tallies those of
    // the record, and makes the first queued URL current; false when nothing is queued.
    bool RestoreCopy(RecordedCopy&& copy);
    CopyTallies CurrentTallies() const;
    // What the current download's answer said, for the record (set by the worker).
    struct Answer {
        long status = 0;
        std::string etag;
        std::string lastModified;
        std::string contentType;
    };
    // Notes the current file saved in its place (after placement or the pass), with
    // its links when it was `scanned`.
    void RecordSaved(const Answer& answer, bool scanned);
    // Starts keeping the run's changes (the current URL, the start, is the first).
    void StartRecording();
    // Records the current page as one whose links wait for targets' names (if it is).
    void RecordPageNotes();
    // The validators to send for `url` when updating a copy whose file is on disk.
    RequestConditions ConditionsFor(const std::string& url) const;
    // The file `url` had in the copy being updated, or null.
    const PreviousFile* PreviousOf(const std::string& url) const;
    // The current URL answered 304: its file stays as it is, saved under its name; a
    // page's recorded links are handled as a scan would have handled them. Returns the
    // file's type.
    FileType TakeUnchanged(const PreviousFile& previous, const Answer& answer);
    // The changes made since the record last took them.
    CChangeList& Changes() { return m_changes; }

    // Link handling (engine/link_handler.cpp): on return `link` holds the text that
    // the saved page carries in its place.
    void HandleLink(std::string& link, int kind);

    // Download directories (engine/directories.cpp). CheckTargetDirectory runs on the
    // interface thread before a run and reports in message boxes; PrepareLocalDirectory
    // runs on the worker after each download and reports into `log`.
    bool CheckTargetDirectory();
    bool PrepareLocalDirectory(CProgressLog& log);

    // The scanning and rewriting pass over the current download (m_pass): read as
    // HTML, or as a stylesheet when m_pass.m_bScanCss is set. ScanChunk scans the buffer from
    // m_nScanIndex to m_nBufferBytes; ScanBytes scans any bytes (tests, fuzzing and
    // benchmarks feed pages through it). Both return 1 when the bytes were scanned,
    // 0 when the output could not be written (reported). ProcessHtmlChunk returns
    // nonzero while more of the file remains.
    int ScanChunk();
    int ScanBytes(const char* data, std::size_t size);
    // Ends the scan of a file: anything held back is written out as it stands.
    // Returns 0 when that write failed (reported), 1 otherwise.
    int FinishScan();
    // Forgets a scan in progress (before each file).
    void ResetScan();
    int ProcessHtmlChunk();
    // Reads the stylesheet being passed over for the references later declarations
    // replace; false when it cannot be read (reported).
    bool FindReplacedReferences();

    // Placement (engine/placement.cpp): moves the finished download to its final path.
    void PlaceDownload(CProgressLog& log);

    // The temporary file of the download being taken: kTempFileName, or the file a
    // transfer wrote straight into (set by the session when it takes a download).
    std::string TempFilePath() const { return m_strTargetDir + m_strTempFileName; }
    std::string PageTempFilePath() const { return m_strTargetDir + kPageTempFileName; }
    std::string FinalPath() const { return m_strTargetDir + m_strLocalDir + m_strFileName; }
    // True when `path` lies inside the download directory: it begins with it and has
    // no "." or ".." segment after it.
    bool IsInsideTargetDir(const std::string& path) const;
    // What a BASE HREF becomes in a saved page: the page's own local directory as a
    // file URL, so that its relative links resolve as they were saved.
    std::string BaseHref() const;

    std::string m_strFileName = "index.htm";
    std::string m_strTempFileName = kTempFileName;
    std::string m_strLocalDir;
    std::string m_strTargetDir;
    std::string m_strUrl;
    std::unique_ptr<char[]> m_pBuffer;
    std::uint32_t m_nBufferBytes = 0;
    std::uint32_t m_nScanIndex = 0;
    std::string m_strHost;
    std::string m_strSiteRoot;
    std::string m_strBasePath;
    // The hosts of the site (see IsSiteUrl): the start URL's, and the one its
    // redirects end on.
    // The site's scope: its hosts, their robots.txt, the user's patterns, the start folder.
    CSiteScope m_scope;
    // The current download: its name before its type is known, its visited entry.
    std::string m_strBaseName = "index.htm";
    std::uint32_t m_nUrlId = CVisitedSet::kNone;
    // The URL the current page's content came from, after redirects; empty when it
    // is m_strUrl itself. Its links are resolved against it.
    std::string m_strBaseUrl;
    // The pass over the current file (engine/rewrite_pass.cpp, engine/scan_output.cpp).
    CPagePass m_pass;
    std::uint32_t m_nLevel = 0;
    CVisitedSet m_mapVisited;
    std::deque<CQueueEntry> m_listQueue;
    // Pages to correct once their targets are fetched (see TakeFileType).
    CLinkFixups m_fixups;

    CMirrorLimits m_limits;
    CInternetOptions m_netOptions;
    // The copy's record: kept while set; the changes not handed over yet.
    bool m_bRecording = false;
    CChangeList m_changes;
    // The links of the page being scanned, as found and as written (see EncodeLink), and
    // the targets whose names they wait for.
    std::string m_pageLinks;
    std::string m_pageNotes;
    // When updating a copy: its files as they were, by URL.
    std::unordered_map<std::string, PreviousFile> m_previous;
    // The run updates a copy: m_previous holds its files.
    bool m_bUpdating = false;
    // What an update did so far (unchanged, changed, new, gone, failed).
    CopyTallies m_counts;
    // The start URL as the run was set up with it.
    std::string m_strStartUrl;
    // The next run starts afresh even where the directory holds a record.
    bool m_bFreshStart = false;
    // Runs keep a record of the copy in the download directory.
    bool m_bKeepRecord = true;

    // When set, the scanner calls this instead of HandleLink, and for a BASE HREF
    // with kind kBaseHref instead of putting BaseHref() in its place (tests and
    // fuzzing observe or replace link handling through it).
    std::function<void(std::string& link, int kind)> m_pfnLinkHook;

    // True when `url` (absolute) is a URL of the site: http or https, on a host of the
    // site, on its port for the scheme it was found with, else on the default port
    // of its own scheme (so http://h/ and https://h/ are one site).
    bool IsSiteUrl(const UriRef& url) const;
    // Makes the host of `url` (http or https) a host of the site too.
    void AddSiteHost(const std::string& url);

private:
    class ScanOutput;
    const UriRef& CurrentPageBase();
    // Takes the robots meta tag of the current page.
    void TakeRobotsDirective(std::string_view content);
    // Notes a link left on the live site that the log is to tell of (robots.txt, or a
    // page's wish not to be followed).
    void NoteLinkLeft(const LinkFacts& facts, const std::string& url);
    // Forgets every decided link text (the site's hosts or a target's name changed).
    void ForgetLinkTexts() {
        for (auto& cache : m_linkCache)
            cache.Clear();
    }
    CLinkTextCache& CacheFor(int kind) {
        return m_linkCache[kind == kHyperlink        ? 0
                           : kind == kEmbeddedObject ? 1
                           : kind == kReplacedObject ? 3
                                                     : 2];
    }
    // The text decided earlier for `link` of `kind` in the current page context, or
    // null; the link's visited entry (or kNone) in `id`.
    std::optional<std::string_view> CachedLinkText(const std::string& link, int kind,
                                                   std::uint32_t& id);
    // Notes that the current page wrote a link for visited entry `id`.
    void NoteLocalLink(std::uint32_t id);
    // Forgets the decided texts when the page context has changed.
    void RefreshLinkContext();
    // The site URL text of a resolved link of the site, as it is queued and keyed.
    std::string SiteUrlText(const UriRef& url) const;
    LocalName CurrentLocalName() const;
    // The text that leads from the current file to the local file of `url`.
    std::string LocalLinkText(const std::string& written, const UriRef& ref,
                              const LocalName& target) const;
    bool EndPass(bool complete);
    void WriteOut(const char* data, std::size_t size);
    // Thrown through a scanner when the output file cannot be made (already reported).
    struct OutputRefused {};
    // Makes the page's output file once a link of the page is rewritten, and puts in
    // it the part of the page written so far (the download's own first bytes).
    void StartOutput();
    void CompleteValue(std::string& value, int kind);

    // Decided link texts of the current page context (see CachedLinkText).
    CLinkTextCache m_linkCache[4];  // hyperlinks, objects, nofollow hyperlinks, replaced objects
    std::string m_strLinkCacheContext;
    std::string m_strLinkCacheUrl;
    std::string m_strLinkCacheBase;
    std::string m_strLinkCacheLocal;
    std::string m_strLinkCacheTarget;
    bool m_bLinkCacheModify = true;
    bool m_bLinkCacheRelative = false;
    bool m_bLinkCacheOffsite = true;
    // Whether the last page's scheme and authority (most links share them) are the
    // site's (IsSiteUrl) and the start URL's (SiteUrlText). An authority of one NUL
    // byte (and a scheme of one) matches no link: the site's hosts changed and the
    // answers are to be found again.
    std::string m_strPageScheme;
    std::string m_strPageAuthority;
    bool m_bPageOnSite = false;
    bool m_bPageAtStartRoot = false;
    bool m_bPageAtItsUrl = false;  // the page's folder on disk is its URL's folder
    // The page being scanned asked that its hyperlinks not be followed.
    bool m_bPageNoFollow = false;
    std::uint32_t m_nNofollowLinks = 0;
    std::vector<std::string> m_notes;
    std::vector<std::string> m_refusedLinks;  // reported as failures with the notes
    std::unordered_set<std::string> m_refusedNoted;
    std::unordered_set<std::string> m_keptOutRecorded;  // the record has them
    // The fix-up id of the page being scanned, once it has written a local link.
    std::uint32_t m_nPageId = CVisitedSet::kNone;
    // The last local directory whose every level was found a real directory.
    std::string m_strCheckedDir;
    // The base of the current page's links, computed once for all of them.
    std::string m_strPageBaseKey;
    UriRef m_pageBase;
};

// Tests the file and megabyte limits after a file; on a limit, logs 300 or 301,
// sets the button to "OK" and returns false.
bool CheckLimits(const CMirrorLimits& limits, CProgressLog& log);

}  // namespace tandril
