#include "cli/cli_options.h"

#include "url/uri.h"
#include "url/url_text.h"

namespace tandril {
namespace {

bool ParseNumber(const std::string& text, std::uint32_t& value) {
    if (text.empty() || text.size() > 10)
        return false;
    std::uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + static_cast<unsigned>(c - '0');
    }
    if (v > UINT32_MAX)
        return false;
    value = static_cast<std::uint32_t>(v);
    return true;
}

}  // namespace

std::string CliHelpText() {
    return "usage: tandril-cli [OPTIONS] URL [DIR]\n"
           "Copies the web site at URL into DIR (by default a folder named after its host)\n"
           "so that it can be browsed offline. A DIR that holds an unfinished copy of URL is\n"
           "continued, a finished one updated.\n"
           "\n"
           "  --levels N            follow hyperlinks N levels deep (1)\n"
           "  --files N             stop after N files (200)\n"
           "  --mb N                stop after N megabytes (5)\n"
           "  --connections N       transfers at once, 1 to 16 (6)\n"
           "  --copy-only           save pages as sent, links unchanged\n"
           "  --relative-links      make a portable copy (relative links)\n"
           "  --no-offsite-embedded leave the images, stylesheets and scripts of other\n"
           "                        hosts on their hosts\n"
           "  --no-robots           do not obey robots.txt, the robots meta tag, nofollow\n"
           "  --exclude PATTERN     skip URLs matching PATTERN (* for any text); repeatable\n"
           "  --include PATTERN     also follow URLs of other hosts matching PATTERN\n"
           "  --no-parent           stay below the start URL's folder\n"
           "  --pause MS            wait MS milliseconds between requests to a host\n"
           "  --cookies FILE        send the cookies of a Netscape cookies.txt\n"
           "  --fresh               start afresh: a new copy, even where one is kept\n"
           "  --ca-file FILE        trust the certificates in FILE\n"
           "  --quiet               print nothing but errors\n"
           "  --verbose             print the progress log's lines\n"
           "  --json                print the end of the run as a JSON object on stdout\n"
           "  --help                print this text\n"
           "  --version             print the version\n"
           "\n"
           "Exit status: 0 done, 1 failed (the start URL could not be opened, the directory\n"
           "is refused), 2 bad usage, 3 a limit ended the run, 4 some files failed,\n"
           "130 interrupted (the copy can be continued).\n";
}

CliCommand ParseCliArguments(const std::vector<std::string>& args, CliOptions& o,
                             std::string& error) {
    std::vector<std::string> operands;
    // What each option with a number sets.
    struct NumberOption {
        const char* name;
        std::uint32_t* value;
        std::uint32_t min;
        std::uint32_t max;
    };
    const NumberOption numbers[] = {
        {"--levels", &o.limits.m_nMaxLevels, 0, UINT32_MAX},
        {"--files", &o.limits.m_nMaxFiles, 0, UINT32_MAX},
        {"--mb", &o.limits.m_nMaxMegaBytes, 0, UINT32_MAX},
        {"--connections", &o.limits.m_nMaxConnections, 1, 16},
        {"--pause", &o.limits.m_nPauseMs, 0, 60000},
    };
    bool onlyOperands = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        if (onlyOperands || arg.empty() || arg[0] != '-' || arg == "-") {
            operands.push_back(arg);
            continue;
        }
        if (arg == "--") {
            onlyOperands = true;
            continue;
        }
        // "--name=value" is "--name value".
        std::string value;
        bool hasValue = false;
        if (const std::size_t eq = arg.find('=');
            arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg.resize(eq);
            hasValue = true;
        }
        const auto takeValue = [&]() -> bool {
            if (hasValue)
                return true;
            if (i + 1 >= args.size()) {
                error = arg + " needs a value";
                return false;
            }
            value = args[++i];
            return true;
        };
        const auto flag = [&](bool& target, bool set) -> bool {
            if (hasValue) {
                error = arg + " takes no value";
                return false;
            }
            target = set;
            return true;
        };
        bool ok = true;
        bool known = true;
        if (arg == "--help" || arg == "-h") {
            return CliCommand::Help;
        } else if (arg == "--version") {
            return CliCommand::Version;
        } else if (arg == "--copy-only") {
            ok = flag(o.limits.m_bModifyLinks, false);
        } else if (arg == "--relative-links") {
            ok = flag(o.limits.m_bRelativeLinks, true);
        } else if (arg == "--no-offsite-embedded") {
            ok = flag(o.limits.m_bOffsiteEmbedded, false);
        } else if (arg == "--no-robots") {
            ok = flag(o.limits.m_bObeyRobots, false);
        } else if (arg == "--no-parent") {
            ok = flag(o.limits.m_bNoParent, true);
        } else if (arg == "--fresh") {
            ok = flag(o.fresh, true);
        } else if (arg == "--quiet" || arg == "-q") {
            ok = flag(o.quiet, true);
        } else if (arg == "--verbose" || arg == "-v") {
            ok = flag(o.verbose, true);
        } else if (arg == "--json") {
            ok = flag(o.json, true);
        } else if (arg == "--exclude" || arg == "--include") {
            ok = takeValue();
            if (ok)
                (arg == "--exclude" ? o.limits.m_skipPatterns : o.limits.m_followPatterns)
                    .push_back(value);
        } else if (arg == "--cookies" || arg == "--ca-file") {
            ok = takeValue();
            if (ok)
                (arg == "--cookies" ? o.limits.m_strCookiesFile : o.caFile) = value;
        } else {
            known = false;
            for (const NumberOption& n : numbers) {
                if (arg != n.name)
                    continue;
                known = true;
                ok = takeValue();
                std::uint32_t number = 0;
                if (ok && (!ParseNumber(value, number) || number < n.min || number > n.max)) {
                    error = arg + " wants a number from " + std::to_string(n.min) + " to " +
                            std::to_string(n.max) + ", not \"" + value + "\"";
                    ok = false;
                }
                if (ok)
                    *n.value = number;
            }
        }
        if (!known) {
            error = "unknown option " + arg;
            return CliCommand::BadUsage;
        }
        if (!ok)
            return CliCommand::BadUsage;
    }
    if (o.quiet && o.verbose) {
        error = "--quiet and --verbose cannot go together";
        return CliCommand::BadUsage;
    }
    if (operands.empty()) {
        error = "a URL to copy is missing";
        return CliCommand::BadUsage;
    }
    if (operands.size() > 2) {
        error = "too many arguments: \"" + operands[2] + "\"";
        return CliCommand::BadUsage;
    }
    o.url = operands[0];
    o.dir = operands.size() == 2 ? operands[1] : std::string();
    return CliCommand::Run;
}

std::string DefaultCopyDirectory(const std::string& url, const std::string& workingDir) {
    const UriRef ref = ParseUriRef(url);
    if (!ref.hasAuthority)
        return {};
    std::string authority = ref.authority;
    if (const std::size_t at = authority.rfind('@'); at != std::string::npos)
        authority.erase(0, at + 1);
    const HostPort hp = SplitAuthority(authority);
    std::string host = hp.host;
    // An IPv6 address in brackets names a folder without them.
    if (host.size() > 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    for (char& c : host) {
        if (c == '/' || c == '\\' || c == ':' || static_cast<unsigned char>(c) < 0x20)
            c = '_';
    }
    if (host.empty() || host == "." || host == "..")
        return {};
    std::string dir = workingDir;
    if (dir.empty() || dir.back() != '/')
        dir += '/';
    return dir + host;
}

}  // namespace tandril
