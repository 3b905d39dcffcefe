#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <unordered_set>

#include "platform/file.h"
#include "platform/internet.h"

namespace tandril {

class CProgressLog;
struct TagInfo;

// Link kinds passed from the scanner to HandleLink.
constexpr int kHyperlink = 0;
constexpr int kEmbeddedObject = 1;
// What the link hook (not HandleLink) receives for a quoted BASE HREF value.
constexpr int kBaseHref = 2;

// A URL waiting to be fetched. strLocalDir uses "/" separators and ends with "/";
// it is a single "/" for the download directory itself.
struct CQueueEntry {
    std::string strUrl;
    std::uint32_t nLevel = 0;
    std::string strFileName;
    std::string strLocalDir;
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
    std::uint32_t m_nMaxFiles = 200;
    bool m_bModifyLinks = true;
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
    // changed, unless it is an "http://" URL with a host.
    bool Start(std::string& url);
    // Makes the next queued URL current; false when the queue is empty or its head
    // lies beyond the level limit (the run is done).
    bool NextUrl();

    // URL queue and visited set (url/url_queue.cpp). EnqueueUrl returns false when
    // the URL was visited already (nothing changes then).
    bool EnqueueUrl(const std::string& url, int kind);
    void ResetUrlState();

    // Link handling (url/link_handler.cpp): on return `link` holds the text that
    // the saved page carries in its place.
    void HandleLink(std::string& link, int kind);

    // Download directories (url/directories.cpp). CheckTargetDirectory runs on the
    // interface thread before a run and reports in message boxes; PrepareLocalDirectory
    // runs on the worker after each download and reports into `log`.
    bool CheckTargetDirectory();
    bool PrepareLocalDirectory(CProgressLog& log);

    // HTML scanner and rewriting pass (html/). ScanChunk returns 1 when the chunk was
    // scanned, 0 when the output could not be written. ProcessHtmlChunk returns
    // nonzero while more of the page remains.
    int ScanChunk();
    // Ends the scan of a page: a link value still open is written out as it stands.
    // Returns 0 when that write failed (reported), 1 otherwise.
    int FinishScan();
    int ProcessHtmlChunk();

    // Placement (engine/placement.cpp): moves the finished download to its final path.
    void PlaceDownload(CProgressLog& log);

    std::string TempFilePath() const { return m_strTargetDir + kTempFileName; }
    std::string PageTempFilePath() const { return m_strTargetDir + kPageTempFileName; }
    std::string FinalPath() const { return m_strTargetDir + m_strLocalDir + m_strFileName; }
    // True when `path` lies inside the download directory: it begins with it and has
    // no "." or ".." segment after it.
    bool IsInsideTargetDir(const std::string& path) const;
    // What a BASE HREF becomes in a saved page: the page's own local directory as a
    // file URL, so that its relative links resolve as they were saved.
    std::string BaseHref() const;

    std::string m_strFileName = "index.htm";
    std::string m_strLocalDir;
    std::string m_strTargetDir;
    std::string m_strUrl;
    std::unique_ptr<char[]> m_pBuffer;
    std::uint32_t m_nBufferBytes = 0;
    std::uint32_t m_nScanIndex = 0;
    const char* m_pScanMark = nullptr;
    const char* m_pScanCur = nullptr;
    std::string m_strHost;
    std::string m_strSiteRoot;
    std::string m_strBasePath;
    std::unique_ptr<CFile> m_pInFile;
    std::unique_ptr<CFile> m_pOutFile;
    std::string m_strCarry;
    std::int32_t m_nScanState = 0;
    // Scanner detail that lives across chunks with m_nScanState: the tag name read so
    // far, the tag recognised, how much of its link attribute's name has matched
    // (-1: another attribute), and the quote that opened the current value.
    std::string m_strScanName;
    const TagInfo* m_pScanTag = nullptr;
    int m_nScanMatch = 0;
    char m_chScanQuote = 0;
    std::uint32_t m_nLevel = 0;
    std::unordered_set<std::string> m_mapVisited;
    std::deque<CQueueEntry> m_listQueue;

    CMirrorLimits m_limits;
    CInternetOptions m_netOptions;
    // When set, the scanner calls this instead of HandleLink, and for a BASE HREF
    // with kind kBaseHref instead of putting BaseHref() in its place (tests and
    // fuzzing observe or replace link handling through it).
    std::function<void(std::string& link, int kind)> m_pfnLinkHook;

private:
    void CloseScanFiles();
    std::string LocalLink(const std::string& path) const;
    const std::string& CurrentPageDirectory();
    void HandleAbsolutePath(std::string& link, int kind);
    void HandleRelative(std::string& link, int kind);
    void CompleteFromLastEntry(std::string& link) const;
    bool EndPass(bool complete);
    void WriteOut(const char* data, std::size_t size);
    void CompleteValue(std::string& value);

    // PageDirectory of the current page, computed once for all of its links.
    std::string m_strPageDirKey;
    std::string m_strPageDir;
    // The download directory as a file URL, for local links.
    mutable std::string m_strTargetDirUrlKey;
    mutable std::string m_strTargetDirUrl;
};

// Tests the file and megabyte limits after a file; on a limit, logs 300 or 301,
// sets the button to "OK" and returns false.
bool CheckLimits(const CMirrorLimits& limits, CProgressLog& log);

}  // namespace tandril
