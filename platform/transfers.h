#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/internet.h"

namespace tandril {

// How one transfer went.
struct TransferOutcome {
    bool fileRefused = false;  // its file could not be created (fileCause says why)
    bool opened = false;       // the final answer's headers arrived
    bool ended = false;        // nothing more will happen to it
    bool complete = false;     // the whole body arrived and is in the file
    std::string error;         // why it could not be opened or read, in words
    long status = 0;
    std::string contentType;
    std::string finalUrl;      // where the answer came from, after redirects
    std::uint64_t bytes = 0;   // body bytes written to the file
    int fileCause = -1;        // a write or close of the file failed with this cause
    bool multiplexed = false;  // the answer came as a stream of a shared (HTTP/2) connection
    std::string etag;          // the final answer's ETag and Last-Modified, as sent
    std::string lastModified;
};

// The validators of a copy already on disk: a request that carries them is answered
// 304 when the file has not changed. Empty ones are not sent.
struct RequestConditions {
    std::string etag;          // sent as If-None-Match
    std::string lastModified;  // sent as If-Modified-Since
};

// Several HTTP(S) transfers at once through one libcurl multi handle, each straight
// into a file of its own, one per slot: at most `connections` connections to a host,
// kept alive and reused, HTTP/2 multiplexing where a server offers it. There are
// `connections` slots, more after AddSlots (streams that share connections).
// Redirects are followed as CInternetSession follows them. Requests to one host are
// paced (the options' pause, a host's own delay): a transfer started early waits in its
// slot until its time, and the waits below drive it then. Memory is bounded: each
// transfer holds libcurl's buffer and its file's write buffer, nothing grows with a
// body.
//
// Owned by one run. The worker thread calls every operation except Interrupt, which
// any thread may call at any time; Close and the destructor must not run while
// another thread is inside a Wait.
class CTransferPool {
public:
    CTransferPool(const CInternetOptions& options, int connections);
    ~CTransferPool();
    CTransferPool(const CTransferPool&) = delete;
    CTransferPool& operator=(const CTransferPool&) = delete;

    // False when the client cannot be initialised.
    bool Open();
    int Connections() const;
    // Adds `count` slots for transfers beyond one per connection: libcurl carries
    // them as streams of the connections it has (or holds them until one is free).
    // They read in smaller blocks. False when a slot cannot be made.
    bool AddSlots(int count);
    int Slots() const;
    // Transfers started and not released.
    int Busy() const;
    // A slot with no transfer, 0 .. Slots()-1, or -1 when every slot is busy.
    int FreeSlot() const;
    // Starts `url` in the free `slot`, into a new file at `path` (whatever stood
    // there is replaced, never followed). A file that cannot be created ends the
    // transfer at once. `conditions` go with the request (and its redirects and retries).
    // Without `retryRefused`, a refused connection ends the transfer at once (other
    // failures are still tried again).
    void Start(int slot, const std::string& url, const std::string& path,
               const RequestConditions& conditions = {}, bool retryRefused = true);
    // Drives every transfer until `slot` has its final answer's headers, or has ended;
    // returns false when it was not opened (or on an Interrupt).
    bool WaitForHeaders(int slot);
    // Drives every transfer until `slot` has ended, or `budgetMs` has passed; true
    // once it has ended.
    bool WaitForEnd(int slot, int budgetMs);
    const TransferOutcome& Outcome(int slot) const;
    // Ends the transfer (if still running) and frees its slot; its file stays.
    void Release(int slot);
    void Close();

    // Requests to the host of `origin` ("http://h:80", see CSiteScope::Origin) start at
    // least `ms` apart (the larger of this and the options' pause counts).
    void SetHostDelay(const std::string& origin, long ms);

    // Makes every wait return at once, now and later. Thread-safe.
    void Interrupt();
    bool IsInterrupted() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace tandril
