#pragma once

#include <string>

namespace tandril {

// Why a transfer failed, in words a user understands ("certificate not trusted",
// "connection refused"), for a libcurl result code; empty for success.
std::string CurlErrorWords(int code);

}  // namespace tandril
