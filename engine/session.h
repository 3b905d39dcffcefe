#pragma once

#include <map>
#include <memory>
#include <string>

#include "platform/transfers.h"
#include "url/robots.h"

namespace tandril {

class CMirrorJob;

// The run's connections to the network. The current URL (the job's m_strUrl) and,
// while transfers are free, the URLs queued after it are fetched at once, each into
// a temporary file of its own ("~tmp~00~.tmp" ...); the worker takes them strictly in
// queue order, so a run saves the same whatever the number of connections. One
// transfer per connection; over HTTP/2, several streams per connection.
// Created by the worker at the start of a run and owned by the run (CMirrorRun).
// Every operation runs on the worker thread, except Interrupt (any thread) and the
// closing after the worker has been joined.
class CMirrorSession {
public:
    explicit CMirrorSession(CMirrorJob& job);

    // Opens the Internet session; message 104 on failure.
    bool OpenSession();
    // Starts the current URL (unless it was started ahead) and, while connections are
    // free, the URLs queued after it, in queue order, as far as the level limit.
    void StartTransfers();
    // Waits for the current URL's final answer. False when it could not be opened
    // (or its file could not be created; see Current()).
    bool WaitForHeaders();
    // Drives the transfers until the current one has ended or a short time has
    // passed (so the worker's queue is seen); true once it has ended.
    bool WaitForEnd();
    const TransferOutcome& Current() const;
    // Makes the current download's own file the job's temporary file (TempFilePath)
    // and frees its connection; false when that fails.
    bool TakeDownload();
    // Frees the current URL's connection; its temporary file is deleted.
    void DropCurrent();
    // Fetches ORIGIN/robots.txt (ORIGIN as CSiteScope::Origin gives it) through a free
    // slot while no other transfer runs, and reads the rules it sets for Tandril: a 2xx
    // answer's file, no rules for a 4xx answer but 429, everything refused for any
    // other answer or none. False when the run was cancelled meanwhile.
    bool FetchRobots(const std::string& origin, CRobotsRules& rules);
    // Requests to the host of `origin` start at least `ms` apart.
    void SetHostDelay(const std::string& origin, long ms) { m_pool->SetHostDelay(origin, ms); }
    // Message 112 for `url`, with why it could not be opened after it:
    // "Cannot connect to https://h/! (certificate not trusted)".
    std::string ConnectFailure(const std::string& url) const;
    // The name of the current URL's own temporary file.
    std::string CurrentFileName() const;
    void CloseSession();
    // Makes a blocked wait return at once. Thread-safe.
    void Interrupt();

    // The temporary file of transfer `slot` in the download directory `dir`.
    static std::string SlotFileName(int slot);

    // Where the server multiplexes (HTTP/2) and more than one connection is allowed,
    // each connection carries up to this many transfers at once, as streams; never
    // more than kMaxSlots transfers in all.
    static constexpr int kStreamsPerConnection = 32;
    static constexpr int kMaxSlots = 192;
    // Slot files are "~tmp~00~.tmp" to "~tmp~97~.tmp", then "~tmp~100~.tmp" and on: never
    // the job's own "~tmp~98~.tmp" and "~tmp~99~.tmp".
    static_assert(kMaxSlots <= 900);

private:
    CMirrorJob& m_job;
    std::unique_ptr<CTransferPool> m_pool;
    std::map<std::string, int> m_ahead;  // URL -> slot, started ahead of their turn
    int m_current = -1;
    bool m_bMultiplexed = false;  // a download came as a stream of a shared connection
};

}  // namespace tandril
