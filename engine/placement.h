#pragma once

#include <string>

namespace tandril {

// True when a local file name ends in "html" or "htm", in any letter case.
bool IsHtmlFileName(const std::string& name);

// True for a stylesheet: a local file name ending in ".css" (any letter case), or a
// Content-Type of text/css (parameters and letter case aside).
bool IsStylesheet(const std::string& name, const std::string& contentType);

// Deletes the program's temporary files in a download directory that a run used
// (ending with "/"), unless a run is working in it now. An empty name deletes
// nothing; missing files are no error.
void DeleteTemporaryFiles(const std::string& targetDir);

}  // namespace tandril
