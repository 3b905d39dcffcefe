#pragma once

#include <string>

namespace tandril {

// How the program reaches the network (platform/transfers.h does it).
struct CInternetOptions {
    std::string userAgent = "Tandril";
    long connectTimeoutSeconds = 30;
    // A transfer that receives no byte for this long fails.
    long idleTimeoutSeconds = 120;
    long maxRedirects = 20;
    // Certificates are checked against the system's store, or against this file of
    // trusted certificates when it is set (tests, benchmarks).
    std::string caFile;
};

}  // namespace tandril
