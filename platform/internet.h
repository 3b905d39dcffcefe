#pragma once

#include <string>
#include <vector>

namespace tandril {

// The version of the program, as its User-Agent names it.
#ifndef TANDRIL_VERSION
#define TANDRIL_VERSION "0"
#endif

// How the program reaches the network (platform/transfers.h does it). The proxy of the
// environment (http_proxy, https_proxy, all_proxy, no_proxy) is used as libcurl reads it.
struct CInternetOptions {
    std::string userAgent = "Tandril/" TANDRIL_VERSION;
    long connectTimeoutSeconds = 30;
    // A transfer that receives no byte for this long fails.
    long idleTimeoutSeconds = 120;
    long maxRedirects = 20;
    // Certificates are checked against the system's store, or against this file of
    // trusted certificates when it is set (tests, benchmarks).
    std::string caFile;
    // The least time between the starts of two requests to one host (scheme, host and
    // port), in milliseconds; a host may ask for more (see CTransferPool::SetHostDelay).
    long pauseMs = 0;
    // A reset or refused connection, a timeout, or a 502, 503 or 504 answer is tried
    // again up to this many times, after 1, 2, 4... times retryWaitMs; a 429 or 503
    // answer waits as long as its Retry-After says (up to 5 minutes).
    int maxRetries = 3;
    long retryWaitMs = 1000;
    // Cookies a site set are kept for the run and sent back; these (lines of a
    // Netscape cookies.txt, see ReadCookiesFile) are known from the start.
    std::vector<std::string> cookies;
};

}  // namespace tandril
