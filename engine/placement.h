#pragma once

#include <string>

namespace tandril {

// Deletes the program's temporary files in a download directory that a run used
// (ending with "/"), unless a run is working in it now. An empty name deletes
// nothing; missing files are no error.
void DeleteTemporaryFiles(const std::string& targetDir);

}  // namespace tandril
