#include "platform/internet.h"

#include <curl/curl.h>

#include <atomic>
#include <cstring>
#include <mutex>

#include "platform/curl_errors.h"
#include "url/url_text.h"

namespace tandril {
namespace {

std::once_flag g_curlInit;

bool StartsWithNoCase(const char* text, std::size_t len, const char* prefix) {
    std::size_t n = std::strlen(prefix);
    return len >= n && strncasecmp(text, prefix, n) == 0;
}

}  // namespace

struct CInternetSession::Impl {
    CInternetOptions options;
    CURLM* multi = nullptr;
    CURL* easy = nullptr;
    std::mutex handleMutex;  // guards multi against Interrupt during Close
    std::atomic<bool> interrupted{false};

    // The transfer of the open URL.
    bool urlOpen = false;
    bool inMulti = false;
    bool done = false;
    CURLcode result = CURLE_OK;
    bool headersFinal = false;
    bool paused = false;
    std::string finalUrl;           // the URL the open answer came from
    CURLcode openError = CURLE_OK;  // why the last OpenUrl failed
    // curl hands over at most CURL_MAX_WRITE_SIZE bytes a call; one such block is
    // all the memory a download ever holds.
    std::unique_ptr<char[]> pending{new char[CURL_MAX_WRITE_SIZE]};
    std::size_t pendingStart = 0;
    std::size_t pendingLen = 0;

    static std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* self) {
        auto* impl = static_cast<Impl*>(self);
        std::size_t n = size * count;
        if (impl->pendingLen > 0 || n > CURL_MAX_WRITE_SIZE) {
            impl->paused = true;
            return CURL_WRITEFUNC_PAUSE;
        }
        std::memcpy(impl->pending.get(), data, n);
        impl->pendingStart = 0;
        impl->pendingLen = n;
        return n;
    }

    static std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* self) {
        auto* impl = static_cast<Impl*>(self);
        std::size_t n = size * count;
        if (n <= 2 && (n == 0 || data[0] == '\r' || data[0] == '\n')) {
            long code = 0;
            if (curl_easy_getinfo(impl->easy, CURLINFO_RESPONSE_CODE, &code) == CURLE_OK &&
                code / 100 != 1) {
                impl->headersFinal = true;
            }
        }
        return n;
    }

    void Configure() {
        curl_easy_setopt(easy, CURLOPT_USERAGENT, options.userAgent.c_str());
        curl_easy_setopt(easy, CURLOPT_PROXY, "");
        curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
        // Redirects are followed by OpenUrl itself: one that cannot be followed (no
        // Location, or one that is not http or https) is then a final answer.
        curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
        curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
        // HTTP/2 where a TLS server offers it (one connection carries the streams).
        curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_2TLS));
        if (!options.caFile.empty()) {
            curl_easy_setopt(easy, CURLOPT_CAINFO, options.caFile.c_str());
        }
        curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, options.connectTimeoutSeconds);
        curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
        curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, options.idleTimeoutSeconds);
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Impl::OnBody);
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
        curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Impl::OnHeader);
        curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
    }

    // Runs the transfer until `ready` holds, the transfer ends, or an Interrupt.
    template <typename Ready>
    void Drive(Ready ready) {
        while (!interrupted.load() && !done && !ready()) {
            int running = 0;
            curl_multi_perform(multi, &running);
            int left = 0;
            while (CURLMsg* msg = curl_multi_info_read(multi, &left)) {
                if (msg->msg == CURLMSG_DONE && msg->easy_handle == easy) {
                    done = true;
                    result = msg->data.result;
                }
            }
            if (done || ready() || interrupted.load()) {
                break;
            }
            curl_multi_poll(multi, nullptr, 0, 1000, nullptr);
        }
    }

    void ResetTransfer() {
        openError = CURLE_OK;
        done = false;
        result = CURLE_OK;
        headersFinal = false;
        paused = false;
        pendingStart = 0;
        pendingLen = 0;
    }

    // Where a redirect answer leads, when it is one that is followed: a 3xx with a
    // Location that resolves to an http or https URL. Empty otherwise.
    std::string RedirectTarget() const {
        long code = 0;
        char* target = nullptr;
        if (curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &code) != CURLE_OK || code / 100 != 3 ||
            curl_easy_getinfo(easy, CURLINFO_REDIRECT_URL, &target) != CURLE_OK ||
            target == nullptr) {
            return {};
        }
        const std::size_t n = std::strlen(target);
        if (StartsWithNoCase(target, n, "http://") || StartsWithNoCase(target, n, "https://")) {
            return target;
        }
        return {};
    }

    void RemoveFromMulti() {
        if (inMulti) {
            curl_multi_remove_handle(multi, easy);
            inMulti = false;
        }
    }
};

CInternetSession::CInternetSession(const CInternetOptions& options) : m_impl(new Impl) {
    m_impl->options = options;
}

CInternetSession::~CInternetSession() {
    Close();
}

bool CInternetSession::Open() {
    std::call_once(g_curlInit, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    std::lock_guard<std::mutex> lock(m_impl->handleMutex);
    if (m_impl->multi != nullptr) {
        return true;
    }
    m_impl->multi = curl_multi_init();
    m_impl->easy = curl_easy_init();
    if (m_impl->multi == nullptr || m_impl->easy == nullptr) {
        if (m_impl->easy)
            curl_easy_cleanup(m_impl->easy);
        if (m_impl->multi)
            curl_multi_cleanup(m_impl->multi);
        m_impl->easy = nullptr;
        m_impl->multi = nullptr;
        return false;
    }
    m_impl->Configure();
    return true;
}

bool CInternetSession::IsOpen() const {
    return m_impl->multi != nullptr;
}

bool CInternetSession::IsUrlOpen() const {
    return m_impl->urlOpen;
}

bool CInternetSession::OpenUrl(const std::string& url) {
    Impl& s = *m_impl;
    if (s.multi == nullptr || s.interrupted.load()) {
        return false;
    }
    CloseUrl();
    std::string request = EncodeForRequest(url);
    for (long hops = 0;; ++hops) {
        s.ResetTransfer();
        if (curl_easy_setopt(s.easy, CURLOPT_URL, request.c_str()) != CURLE_OK ||
            curl_multi_add_handle(s.multi, s.easy) != CURLM_OK) {
            return false;
        }
        s.inMulti = true;
        s.Drive([&s] { return s.headersFinal; });
        // A body that already failed is reported by the reads, not here.
        if (s.interrupted.load() || !(s.headersFinal || (s.done && s.result == CURLE_OK))) {
            const CURLcode error = s.result;
            s.RemoveFromMulti();
            s.openError = error;
            return false;
        }
        s.finalUrl = request;
        const std::string next = s.RedirectTarget();
        if (next.empty()) {
            break;
        }
        if (hops >= s.options.maxRedirects) {
            s.RemoveFromMulti();
            s.openError = CURLE_TOO_MANY_REDIRECTS;
            return false;
        }
        // The redirect's own body is read and dropped, so its connection serves on.
        s.urlOpen = true;
        char scratch[4096];
        long n = 0;
        while ((n = Read(scratch, sizeof(scratch))) > 0) {
        }
        s.urlOpen = false;
        s.RemoveFromMulti();
        if (n < 0 && s.interrupted.load()) {
            return false;
        }
        request = EncodeForRequest(next);
    }
    s.urlOpen = true;
    return true;
}

std::string CInternetSession::LastError() const {
    return CurlErrorWords(m_impl->openError);
}

std::string CInternetSession::EffectiveUrl() const {
    return m_impl->finalUrl;
}

long CInternetSession::Read(char* buffer, std::size_t size) {
    Impl& s = *m_impl;
    if (!s.urlOpen || s.interrupted.load()) {
        return -1;
    }
    if (s.pendingLen == 0 && s.paused && !s.done) {
        s.paused = false;
        // Unpausing may hand over the held data at once, through OnBody.
        curl_easy_pause(s.easy, CURLPAUSE_CONT);
    }
    s.Drive([&s] { return s.pendingLen > 0; });
    if (s.interrupted.load()) {
        return -1;
    }
    if (s.pendingLen > 0) {
        std::size_t n = s.pendingLen < size ? s.pendingLen : size;
        std::memcpy(buffer, s.pending.get() + s.pendingStart, n);
        s.pendingStart += n;
        s.pendingLen -= n;
        return static_cast<long>(n);
    }
    return s.result == CURLE_OK ? 0 : -1;
}

long CInternetSession::ResponseCode() const {
    long code = 0;
    if (m_impl->easy == nullptr ||
        curl_easy_getinfo(m_impl->easy, CURLINFO_RESPONSE_CODE, &code) != CURLE_OK) {
        return 0;
    }
    return code;
}

std::string CInternetSession::ContentType() const {
    char* type = nullptr;
    if (m_impl->easy == nullptr ||
        curl_easy_getinfo(m_impl->easy, CURLINFO_CONTENT_TYPE, &type) != CURLE_OK ||
        type == nullptr) {
        return {};
    }
    return type;
}

void CInternetSession::CloseUrl() {
    m_impl->RemoveFromMulti();
    m_impl->urlOpen = false;
}

void CInternetSession::Close() {
    CloseUrl();
    std::lock_guard<std::mutex> lock(m_impl->handleMutex);
    if (m_impl->easy != nullptr) {
        curl_easy_cleanup(m_impl->easy);
        m_impl->easy = nullptr;
    }
    if (m_impl->multi != nullptr) {
        curl_multi_cleanup(m_impl->multi);
        m_impl->multi = nullptr;
    }
}

bool CInternetSession::IsInterrupted() const {
    return m_impl->interrupted.load();
}

void CInternetSession::Interrupt() {
    m_impl->interrupted.store(true);
    std::lock_guard<std::mutex> lock(m_impl->handleMutex);
    if (m_impl->multi != nullptr) {
        curl_multi_wakeup(m_impl->multi);
    }
}

}  // namespace tandril
