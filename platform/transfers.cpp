#include "platform/transfers.h"

#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include <unistd.h>

#include "platform/curl_errors.h"
#include "platform/file.h"
#include "url/site_scope.h"
#include "url/uri.h"
#include "url/url_text.h"

namespace tandril {
namespace {

std::once_flag g_curlInit;

// libcurl's receive buffer: large for the one transfer per connection (a big body goes
// to disk in few writes), small for the up to 90 extra streams, which mostly carry pages
// and whose buffers would otherwise be most of the run's memory.
constexpr long kConnectionBuffer = 64L * 1024;
constexpr long kStreamBuffer = 4L * 1024;

bool StartsWithNoCase(const char* text, const char* prefix) {
    return strncasecmp(text, prefix, std::strlen(prefix)) == 0;
}

// A header's value without the spaces and line end around it.
std::string HeaderValue(const char* data, std::size_t size) {
    std::string value(data, size);
    const std::size_t begin = value.find_first_not_of(" \t\r\n");
    const std::size_t end = value.find_last_not_of(" \t\r\n");
    return begin == std::string::npos ? std::string() : value.substr(begin, end - begin + 1);
}

// One slot: an easy handle that serves transfer after transfer.
struct Transfer {
    CURL* easy = nullptr;
    bool busy = false;
    bool inMulti = false;
    bool redirecting = false;  // the answer is a redirect that is followed: body dropped
    bool retrying = false;     // the answer asks to come back later: body dropped
    long retryWaitMs = 0;      // how long, for an answer that says so
    int retries = 0;
    std::string firstRequest;  // the URL as first asked for: a retry starts there again
    std::string path;
    std::string redirectTo;
    std::string location;  // the Location header of the answer being read
    std::string etag;      // the ETag and Last-Modified headers of the answer being read
    std::string modified;
    curl_slist* headers = nullptr;  // the request's own headers (conditions), owned
    long hops = 0;
    std::string request;
    int maxRetries = 0;
    bool retryRefused = true;  // a refused connection is tried again
    bool waiting = false;      // started, not yet handed to libcurl: its time has not come
    std::chrono::steady_clock::time_point launchAt;
    CFile file;
    bool fileMade = false;  // the file of this try was made
    TransferOutcome out;

    // The transfer's file is made with the first byte of a body (or for an empty body
    // that is kept): an answer without one (a 304 of an update, a failure) touches no
    // file. False when it cannot be made (noted in the outcome).
    bool MakeFile() {
        if (fileMade)
            return true;
        // Most bodies are pages, written in one or two pieces: a write buffer in each of
        // up to 192 slots would only add memory. A large body arrives in TLS records or
        // HTTP/2 frames of 8 to 16 KiB, gathered into 64 KiB writes once it is seen to
        // be large.
        fileMade = file.CreateFresh(path, CFile::Buffering::kGatheredWhenLarge);
        if (fileMade)
            return true;
        out.fileRefused = true;
        out.fileCause = FileCauseFromErrno(errno);
        return false;
    }

    static std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* self) {
        auto* t = static_cast<Transfer*>(self);
        const std::size_t n = size * count;
        if (t->redirecting || t->retrying) {
            return n;
        }
        if (!t->MakeFile())
            return 0;  // libcurl ends the transfer with a write error
        try {
            t->file.Write(data, n);
        } catch (const FileException& e) {
            t->out.fileCause = e.cause;
            return 0;  // libcurl ends the transfer with a write error
        }
        t->out.bytes += n;
        return n;
    }

    static std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* self) {
        auto* t = static_cast<Transfer*>(self);
        const std::size_t n = size * count;
        if (n > 2 || (n > 0 && data[0] != '\r' && data[0] != '\n')) {
            // Each answer's own Location (libcurl resolves it only after the headers).
            if (n >= 5 && strncasecmp(data, "HTTP/", 5) == 0) {
                t->location.clear();
                t->etag.clear();
                t->modified.clear();
            } else if (n >= 9 && strncasecmp(data, "Location:", 9) == 0) {
                t->location = HeaderValue(data + 9, n - 9);
            } else if (n >= 5 && strncasecmp(data, "ETag:", 5) == 0) {
                t->etag = HeaderValue(data + 5, n - 5);
            } else if (n >= 14 && strncasecmp(data, "Last-Modified:", 14) == 0) {
                t->modified = HeaderValue(data + 14, n - 14);
            }
            return n;
        }
        long code = 0;
        if (curl_easy_getinfo(t->easy, CURLINFO_RESPONSE_CODE, &code) != CURLE_OK ||
            code / 100 == 1) {
            return n;
        }
        if (code / 100 == 3 && code != 304) {
            const std::string target =
                Serialize(Resolve(ParseUriRef(t->request), ParseUriRef(t->location)));
            if (!t->location.empty() && (StartsWithNoCase(target.c_str(), "http://") ||
                                         StartsWithNoCase(target.c_str(), "https://"))) {
                t->redirecting = true;
                t->redirectTo = target;
                return n;
            }
            // A redirect that cannot be followed is no answer: nothing is saved for it.
            t->out.error = t->location.empty() ? "redirect without a target"
                                               : "redirect to a URL that is not http or https";
            return 0;
        }
        if ((code == 429 || code == 502 || code == 503 || code == 504) &&
            t->retries < t->maxRetries) {
            // Come back later: after its Retry-After (429, 503), else as for a lost
            // connection.
            curl_off_t after = 0;
            if (curl_easy_getinfo(t->easy, CURLINFO_RETRY_AFTER, &after) != CURLE_OK)
                after = 0;
            t->retrying = true;
            t->retryWaitMs = (code == 429 || code == 503) && after > 0
                                 ? static_cast<long>(std::min<curl_off_t>(after, 300) * 1000)
                                 : -1;
            return n;
        }
        t->out.opened = true;
        t->out.status = code;
        long version = 0;
        t->out.multiplexed =
            curl_easy_getinfo(t->easy, CURLINFO_HTTP_VERSION, &version) == CURLE_OK &&
            version >= CURL_HTTP_VERSION_2_0;
        t->out.finalUrl = t->request;
        t->out.etag = t->etag;
        t->out.lastModified = t->modified;
        char* type = nullptr;
        if (curl_easy_getinfo(t->easy, CURLINFO_CONTENT_TYPE, &type) == CURLE_OK &&
            type != nullptr) {
            t->out.contentType = type;
        }
        return n;
    }
};

}  // namespace

struct CTransferPool::Impl {
    CInternetOptions options;
    int connections = 1;
    CURLM* multi = nullptr;
    CURLSH* share = nullptr;  // the cookie jar; used by the worker thread only
    std::vector<std::unique_ptr<Transfer>> slots;
    std::mutex handleMutex;  // guards multi against Interrupt during Close
    std::atomic<bool> interrupted{false};
    // Pacing: each host's own delay, and when its next request may start.
    std::map<std::string, long> hostDelay;
    std::map<std::string, std::chrono::steady_clock::time_point> nextStart;

    // When a request to `url` may start, and from then on the next one to its host.
    std::chrono::steady_clock::time_point Schedule(const std::string& url) {
        const auto now = std::chrono::steady_clock::now();
        const std::string origin = CSiteScope::Origin(ParseUriRef(url));
        long delay = options.pauseMs;
        if (const auto it = hostDelay.find(origin); it != hostDelay.end())
            delay = std::max(delay, it->second);
        if (delay <= 0)
            return now;
        auto& next = nextStart[origin];
        const auto at = std::max(now, next);
        next = at + std::chrono::milliseconds(delay);
        return at;
    }

    // Hands the transfers whose time has come to libcurl; the time until the next.
    long LaunchDue() {
        const auto now = std::chrono::steady_clock::now();
        long wait = 100;
        for (auto& t : slots) {
            if (!t->waiting)
                continue;
            if (t->launchAt <= now) {
                t->waiting = false;
                if (!Launch(*t))
                    t->out.ended = true;
            } else {
                const auto ms =
                    std::chrono::duration_cast<std::chrono::milliseconds>(t->launchAt - now)
                        .count();
                wait = std::min<long>(wait, std::max<long>(1, static_cast<long>(ms)));
            }
        }
        return wait;
    }

    bool Configure(Transfer& t, long bufferSize) {
        CURL* e = t.easy;
        bool ok =
            curl_easy_setopt(e, CURLOPT_USERAGENT, options.userAgent.c_str()) == CURLE_OK &&
            // Every encoding this libcurl decodes (gzip, deflate, br, zstd): bodies are
            // saved and scanned decoded.
            curl_easy_setopt(e, CURLOPT_ACCEPT_ENCODING, "") == CURLE_OK &&
            // The cookie engine, in memory only, one jar for every transfer of the run.
            curl_easy_setopt(e, CURLOPT_COOKIEFILE, "") == CURLE_OK &&
            curl_easy_setopt(e, CURLOPT_SHARE, share) == CURLE_OK &&
            curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
            curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 0L) == CURLE_OK &&
            curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https") == CURLE_OK &&
            curl_easy_setopt(e, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_2TLS)) ==
                CURLE_OK &&
            curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT, options.connectTimeoutSeconds) ==
                CURLE_OK &&
            curl_easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT, 1L) == CURLE_OK &&
            curl_easy_setopt(e, CURLOPT_LOW_SPEED_TIME, options.idleTimeoutSeconds) == CURLE_OK &&
            // Big blocks: a large body goes to disk in few writes.
            curl_easy_setopt(e, CURLOPT_BUFFERSIZE, bufferSize) == CURLE_OK &&
            curl_easy_setopt(e, CURLOPT_PIPEWAIT, 1L) == CURLE_OK &&
            curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &Transfer::OnBody) == CURLE_OK &&
            curl_easy_setopt(e, CURLOPT_WRITEDATA, &t) == CURLE_OK &&
            curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &Transfer::OnHeader) == CURLE_OK &&
            curl_easy_setopt(e, CURLOPT_HEADERDATA, &t) == CURLE_OK;
        if (ok && !options.caFile.empty()) {
            ok = curl_easy_setopt(e, CURLOPT_CAINFO, options.caFile.c_str()) == CURLE_OK;
        }
        return ok;
    }

    // Puts the cookies known from the start in the jar, through the first slot.
    bool LoadCookies() {
        for (const std::string& line : options.cookies) {
            if (curl_easy_setopt(slots.front()->easy, CURLOPT_COOKIELIST, line.c_str()) != CURLE_OK)
                return false;
        }
        return true;
    }

    // Appends `count` configured slots; on failure none of the failed one is kept.
    bool AddSlots(int count, long bufferSize) {
        for (int i = 0; i < count; ++i) {
            auto t = std::make_unique<Transfer>();
            t->easy = curl_easy_init();
            if (t->easy == nullptr || !Configure(*t, bufferSize)) {
                if (t->easy != nullptr)
                    curl_easy_cleanup(t->easy);
                return false;
            }
            slots.push_back(std::move(t));
        }
        return true;
    }

    bool Launch(Transfer& t) {
        t.redirecting = false;
        t.redirectTo.clear();
        t.location.clear();
        if (curl_easy_setopt(t.easy, CURLOPT_URL, t.request.c_str()) != CURLE_OK ||
            curl_multi_add_handle(multi, t.easy) != CURLM_OK) {
            return false;
        }
        t.inMulti = true;
        return true;
    }

    void Remove(Transfer& t) {
        if (t.inMulti) {
            curl_multi_remove_handle(multi, t.easy);
            t.inMulti = false;
        }
    }

    // Starts the transfer again from its first URL, into a fresh file, `waitMs` from
    // now (-1: the next of the growing waits); false when it is not to be tried again.
    bool Retry(Transfer& t, long waitMs) {
        if (t.retries >= options.maxRetries || interrupted.load())
            return false;
        ++t.retries;
        if (waitMs < 0)
            waitMs = options.retryWaitMs << (t.retries - 1);
        try {
            t.file.Close();
        } catch (const FileException&) {
            // What it held is dropped either way.
        }
        t.out = TransferOutcome{};
        // What the try before wrote is no part of the answer; the next body makes the
        // file afresh.
        ::unlink(t.path.c_str());
        t.fileMade = false;
        t.redirecting = false;
        t.retrying = false;
        t.hops = 0;
        t.request = t.firstRequest;
        t.launchAt = std::max(std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs),
                              Schedule(t.firstRequest));
        t.waiting = true;
        return true;
    }

    static bool IsTransient(CURLcode result) {
        return result == CURLE_COULDNT_CONNECT || result == CURLE_GOT_NOTHING ||
               result == CURLE_RECV_ERROR || result == CURLE_SEND_ERROR ||
               result == CURLE_OPERATION_TIMEDOUT || result == CURLE_PARTIAL_FILE;
    }

    void Finish(Transfer& t, CURLcode result) {
        Remove(t);
        if (t.retrying && result == CURLE_OK && Retry(t, t.retryWaitMs)) {
            return;
        }
        t.retrying = false;
        const bool refusedOnce = result == CURLE_COULDNT_CONNECT && !t.retryRefused;
        if (IsTransient(result) && !refusedOnce && t.out.fileCause < 0 && Retry(t, -1)) {
            return;
        }
        if (t.redirecting && result == CURLE_OK) {
            if (t.hops < options.maxRedirects) {
                ++t.hops;
                t.request = EncodeForRequest(t.redirectTo);
                if (Launch(t)) {
                    return;
                }
            }
            result = CURLE_TOO_MANY_REDIRECTS;
            t.redirecting = false;
        }
        t.out.ended = true;
        try {
            t.file.Close();
        } catch (const FileException& e) {
            if (t.out.fileCause < 0) {
                t.out.fileCause = e.cause;
            }
        }
        t.out.complete = result == CURLE_OK && t.out.opened && t.out.fileCause < 0;
        // An empty body that is kept is an empty file.
        if (t.out.complete && t.out.status < 300 && !t.fileMade) {
            t.out.complete = t.MakeFile();
            try {
                t.file.Close();
            } catch (const FileException& e) {
                t.out.fileCause = e.cause;
                t.out.complete = false;
            }
        }
        if (result != CURLE_OK && t.out.fileCause < 0 && t.out.error.empty()) {
            // A server that closes without a byte of answer reads the same whether the
            // request went on a new connection or a reused one.
            const bool nothing =
                !t.out.opened && (result == CURLE_GOT_NOTHING || result == CURLE_RECV_ERROR ||
                                  result == CURLE_SEND_ERROR);
            t.out.error = nothing ? "closed without an answer" : CurlErrorWords(result);
        }
    }

    // Runs every transfer until `ready` holds, an Interrupt, or `budgetMs` has passed
    // (negative: no budget).
    template <typename Ready>
    void Drive(Ready ready, int budgetMs) {
        const auto start = std::chrono::steady_clock::now();
        while (!interrupted.load() && !ready()) {
            const long wait = LaunchDue();
            int running = 0;
            curl_multi_perform(multi, &running);
            int left = 0;
            while (CURLMsg* msg = curl_multi_info_read(multi, &left)) {
                if (msg->msg != CURLMSG_DONE)
                    continue;
                for (auto& t : slots) {
                    if (t->easy == msg->easy_handle && t->inMulti) {
                        Finish(*t, msg->data.result);
                        break;
                    }
                }
            }
            if (ready() || interrupted.load())
                break;
            if (budgetMs >= 0 &&
                std::chrono::steady_clock::now() - start >= std::chrono::milliseconds(budgetMs))
                break;
            curl_multi_poll(multi, nullptr, 0, static_cast<int>(wait), nullptr);
        }
    }
};

CTransferPool::CTransferPool(const CInternetOptions& options, int connections) : m_impl(new Impl) {
    m_impl->options = options;
    m_impl->connections = connections < 1 ? 1 : (connections > 16 ? 16 : connections);
}

CTransferPool::~CTransferPool() {
    Close();
}

bool CTransferPool::Open() {
    std::call_once(g_curlInit, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    std::lock_guard<std::mutex> lock(m_impl->handleMutex);
    Impl& s = *m_impl;
    if (s.multi != nullptr) {
        return true;
    }
    s.multi = curl_multi_init();
    s.share = curl_share_init();
    if (s.multi == nullptr || s.share == nullptr ||
        curl_share_setopt(s.share, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE) != CURLSHE_OK ||
        curl_multi_setopt(s.multi, CURLMOPT_MAX_HOST_CONNECTIONS,
                          static_cast<long>(s.connections)) != CURLM_OK ||
        curl_multi_setopt(s.multi, CURLMOPT_MAX_TOTAL_CONNECTIONS,
                          static_cast<long>(s.connections)) != CURLM_OK ||
        curl_multi_setopt(s.multi, CURLMOPT_PIPELINING, CURLPIPE_MULTIPLEX) != CURLM_OK) {
        if (s.multi != nullptr)
            curl_multi_cleanup(s.multi);
        if (s.share != nullptr)
            curl_share_cleanup(s.share);
        s.multi = nullptr;
        s.share = nullptr;
        return false;
    }
    if (!s.AddSlots(s.connections, kConnectionBuffer) || !s.LoadCookies()) {
        for (auto& made : s.slots)
            curl_easy_cleanup(made->easy);
        s.slots.clear();
        curl_multi_cleanup(s.multi);
        curl_share_cleanup(s.share);
        s.multi = nullptr;
        s.share = nullptr;
        return false;
    }
    return true;
}

bool CTransferPool::AddSlots(int count) {
    return m_impl->multi != nullptr && m_impl->AddSlots(count, kStreamBuffer);
}

int CTransferPool::Slots() const {
    return static_cast<int>(m_impl->slots.size());
}

int CTransferPool::Connections() const {
    return m_impl->connections;
}

int CTransferPool::Busy() const {
    int busy = 0;
    for (const auto& t : m_impl->slots)
        busy += t->busy ? 1 : 0;
    return busy;
}

int CTransferPool::FreeSlot() const {
    for (std::size_t i = 0; i < m_impl->slots.size(); ++i) {
        if (!m_impl->slots[i]->busy)
            return static_cast<int>(i);
    }
    return -1;
}

void CTransferPool::Start(int slot, const std::string& url, const std::string& path,
                          const RequestConditions& conditions, bool retryRefused) {
    Impl& s = *m_impl;
    Transfer& t = *s.slots[static_cast<std::size_t>(slot)];
    t.busy = true;
    t.retryRefused = retryRefused;
    curl_slist_free_all(t.headers);
    t.headers = nullptr;
    // Header values never hold a line end: a validator that does is not sent.
    const auto add = [&t](const char* name, const std::string& value) {
        if (value.empty() || value.find_first_of("\r\n") != std::string::npos)
            return true;
        curl_slist* more = curl_slist_append(t.headers, (std::string(name) + value).c_str());
        if (more == nullptr)
            return false;
        t.headers = more;
        return true;
    };
    const bool headersMade = add("If-None-Match: ", conditions.etag) &&
                             add("If-Modified-Since: ", conditions.lastModified);
    if (!headersMade || curl_easy_setopt(t.easy, CURLOPT_HTTPHEADER, t.headers) != CURLE_OK) {
        // Without its conditions the request is an ordinary one.
        curl_slist_free_all(t.headers);
        t.headers = nullptr;
        curl_easy_setopt(t.easy, CURLOPT_HTTPHEADER, static_cast<curl_slist*>(nullptr));
    }
    t.out = TransferOutcome{};
    t.hops = 0;
    t.retries = 0;
    t.retrying = false;
    t.maxRetries = s.options.maxRetries;
    t.request = EncodeForRequest(url);
    t.firstRequest = t.request;
    t.path = path;
    t.fileMade = false;
    if (s.interrupted.load()) {
        t.out.ended = true;
        return;
    }
    t.launchAt = s.Schedule(url);
    t.waiting = t.launchAt > std::chrono::steady_clock::now();
    if (!t.waiting && !s.Launch(t)) {
        t.out.ended = true;
    }
}

bool CTransferPool::WaitForHeaders(int slot) {
    Transfer& t = *m_impl->slots[static_cast<std::size_t>(slot)];
    m_impl->Drive([&t] { return t.out.opened || t.out.ended; }, -1);
    return t.out.opened && !m_impl->interrupted.load();
}

bool CTransferPool::WaitForEnd(int slot, int budgetMs) {
    Transfer& t = *m_impl->slots[static_cast<std::size_t>(slot)];
    m_impl->Drive([&t] { return t.out.ended; }, budgetMs);
    return t.out.ended;
}

const TransferOutcome& CTransferPool::Outcome(int slot) const {
    return m_impl->slots[static_cast<std::size_t>(slot)]->out;
}

void CTransferPool::SetHostDelay(const std::string& origin, long ms) {
    m_impl->hostDelay[origin] = ms;
}

void CTransferPool::Release(int slot) {
    Transfer& t = *m_impl->slots[static_cast<std::size_t>(slot)];
    t.waiting = false;
    m_impl->Remove(t);
    if (t.file.IsOpen()) {
        try {
            t.file.Close();
        } catch (const FileException&) {
            // A transfer given up: its file is of no use either way.
        }
    }
    t.busy = false;
}

void CTransferPool::Close() {
    Impl& s = *m_impl;
    for (std::size_t i = 0; i < s.slots.size(); ++i) {
        if (s.slots[i]->busy)
            Release(static_cast<int>(i));
    }
    std::lock_guard<std::mutex> lock(s.handleMutex);
    for (auto& t : s.slots) {
        curl_easy_cleanup(t->easy);
        curl_slist_free_all(t->headers);
        t->headers = nullptr;
    }
    s.slots.clear();
    if (s.multi != nullptr) {
        curl_multi_cleanup(s.multi);
        s.multi = nullptr;
    }
    // The handles that used the jar are gone: it can go too.
    if (s.share != nullptr) {
        curl_share_cleanup(s.share);
        s.share = nullptr;
    }
}

void CTransferPool::Interrupt() {
    m_impl->interrupted.store(true);
    std::lock_guard<std::mutex> lock(m_impl->handleMutex);
    if (m_impl->multi != nullptr) {
        curl_multi_wakeup(m_impl->multi);
    }
}

bool CTransferPool::IsInterrupted() const {
    return m_impl->interrupted.load();
}

}  // namespace tandril
