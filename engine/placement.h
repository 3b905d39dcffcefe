#pragma once

#include <string>

namespace tandril {

// True when a local file name ends in "html" or "htm", in any letter case.
bool IsHtmlFileName(const std::string& name);

// Deletes the program's temporary files in a download directory that a run used
// (ending with "/"). An empty name deletes nothing; missing files are no error.
void DeleteTemporaryFiles(const std::string& targetDir);

}  // namespace tandril
