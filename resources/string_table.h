#pragma once

#include <string>

namespace tandril {

// The program's string table: every message and interface text that has a number.
// Returns true and sets `text` when the id exists; false leaves `text` untouched.
// Thread-safe (the table is constant).
bool LoadString(unsigned id, std::string& text);

}  // namespace tandril
