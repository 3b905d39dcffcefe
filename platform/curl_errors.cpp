#include "platform/curl_errors.h"

#include <curl/curl.h>

namespace tandril {

std::string CurlErrorWords(int code) {
    switch (static_cast<CURLcode>(code)) {
        case CURLE_OK:
            return {};
        case CURLE_PEER_FAILED_VERIFICATION:
            return "certificate not trusted";
        case CURLE_SSL_CONNECT_ERROR:
            return "secure connection failed";
        case CURLE_SSL_CACERT_BADFILE:
            return "cannot read the trusted certificates";
        case CURLE_COULDNT_RESOLVE_HOST:
            return "unknown host";
        case CURLE_COULDNT_CONNECT:
            return "connection refused";
        case CURLE_OPERATION_TIMEDOUT:
            return "timed out";
        case CURLE_TOO_MANY_REDIRECTS:
            return "too many redirects";
        case CURLE_URL_MALFORMAT:
            return "malformed URL";
        case CURLE_GOT_NOTHING:
            return "empty answer";
        case CURLE_RECV_ERROR:
        case CURLE_SEND_ERROR:
            return "connection lost";
        case CURLE_WEIRD_SERVER_REPLY:
        case CURLE_UNSUPPORTED_PROTOCOL:
            return "not an HTTP answer";
        default:
            return curl_easy_strerror(static_cast<CURLcode>(code));
    }
}

}  // namespace tandril
