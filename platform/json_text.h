#pragma once

#include <string>

namespace tandril {

// `text` as a JSON string, quotes included: valid UTF-8 as it stands, any other byte as
// the code point of the same number (so a name in another encoding still makes valid
// JSON).
std::string JsonString(const std::string& text);

}  // namespace tandril
