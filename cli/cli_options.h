#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/mirror_job.h"

namespace tandril {

// What the command line asks of tandril-cli.
struct CliOptions {
    std::string url;
    std::string dir;  // empty: a folder named after the URL's host, in the working directory
    CMirrorLimits limits;
    std::string caFile;
    bool fresh = false;
    bool quiet = false;
    bool verbose = false;
    bool json = false;
};

enum class CliCommand { Run, Help, Version, BadUsage };

// Reads the arguments (argv[1] onwards). On BadUsage, `error` holds a one-line reason.
// Pure: no I/O.
CliCommand ParseCliArguments(const std::vector<std::string>& args, CliOptions& options,
                             std::string& error);

// The folder a copy of `url` goes to when none is given: the URL's host ("example.com",
// "127.0.0.1"), below `workingDir`; empty when the URL has no usable host.
std::string DefaultCopyDirectory(const std::string& url, const std::string& workingDir);

// The text of --help.
std::string CliHelpText();

}  // namespace tandril
