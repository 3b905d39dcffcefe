#pragma once

#include <string>

namespace tandril {

// True when a local file name ends in "html" or "htm", in any letter case.
bool IsHtmlFileName(const std::string& name);

}  // namespace tandril
