// tandril-cli's arguments, the folder a copy goes to by default, its progress line.
#include <gtest/gtest.h>

#include "cli/cli_options.h"
#include "cli/terminal_progress.h"

namespace tandril {
namespace {

TEST(CliOptions, ArgumentsAndWhatTheySet) {
    struct Case {
        std::vector<std::string> args;
        CliCommand command;
        std::string error;  // for BadUsage
    };
    const Case cases[] = {
        {{"http://h/"}, CliCommand::Run, ""},
        {{"--help"}, CliCommand::Help, ""},
        {{"http://h/", "-h"}, CliCommand::Help, ""},
        {{"--version"}, CliCommand::Version, ""},
        {{}, CliCommand::BadUsage, "a URL to copy is missing"},
        {{"--levls", "2", "http://h/"}, CliCommand::BadUsage, "unknown option --levls"},
        {{"http://h/", "--levels"}, CliCommand::BadUsage, "--levels needs a value"},
        {{"--levels", "x", "http://h/"},
         CliCommand::BadUsage,
         "--levels wants a number from 0 to 4294967295, not \"x\""},
        {{"--connections", "17", "http://h/"},
         CliCommand::BadUsage,
         "--connections wants a number from 1 to 16, not \"17\""},
        {{"--connections=0", "http://h/"},
         CliCommand::BadUsage,
         "--connections wants a number from 1 to 16, not \"0\""},
        {{"--pause", "60001", "http://h/"},
         CliCommand::BadUsage,
         "--pause wants a number from 0 to 60000, not \"60001\""},
        {{"--fresh=1", "http://h/"}, CliCommand::BadUsage, "--fresh takes no value"},
        {{"--quiet", "--verbose", "http://h/"},
         CliCommand::BadUsage,
         "--quiet and --verbose cannot go together"},
        {{"http://h/", "d", "e"}, CliCommand::BadUsage, "too many arguments: \"e\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.empty() ? "(none)" : c.args[0]);
        CliOptions o;
        std::string error;
        EXPECT_EQ(ParseCliArguments(c.args, o, error), c.command);
        EXPECT_EQ(error, c.error);
    }

    CliOptions o;
    std::string error;
    ASSERT_EQ(ParseCliArguments({"--levels",
                                 "3",
                                 "--files=5000",
                                 "--mb",
                                 "40",
                                 "--connections",
                                 "2",
                                 "--copy-only",
                                 "--relative-links",
                                 "--no-offsite-embedded",
                                 "--no-robots",
                                 "--exclude",
                                 "*do=*",
                                 "--exclude=*/forum/*",
                                 "--include",
                                 "cdn.h/*",
                                 "--no-parent",
                                 "--pause",
                                 "250",
                                 "--cookies",
                                 "c.txt",
                                 "--fresh",
                                 "--ca-file",
                                 "ca.pem",
                                 "--json",
                                 "-v",
                                 "--",
                                 "-odd-url",
                                 "dir"},
                                o, error),
              CliCommand::Run)
        << error;
    EXPECT_EQ(o.url, "-odd-url");
    EXPECT_EQ(o.dir, "dir");
    EXPECT_EQ(o.limits.m_nMaxLevels, 3u);
    EXPECT_EQ(o.limits.m_nMaxFiles, 5000u);
    EXPECT_EQ(o.limits.m_nMaxMegaBytes, 40u);
    EXPECT_EQ(o.limits.m_nMaxConnections, 2u);
    EXPECT_FALSE(o.limits.m_bModifyLinks);
    EXPECT_TRUE(o.limits.m_bRelativeLinks);
    EXPECT_FALSE(o.limits.m_bOffsiteEmbedded);
    EXPECT_FALSE(o.limits.m_bObeyRobots);
    EXPECT_EQ(o.limits.m_skipPatterns, (std::vector<std::string>{"*do=*", "*/forum/*"}));
    EXPECT_EQ(o.limits.m_followPatterns, (std::vector<std::string>{"cdn.h/*"}));
    EXPECT_TRUE(o.limits.m_bNoParent);
    EXPECT_EQ(o.limits.m_nPauseMs, 250u);
    EXPECT_EQ(o.limits.m_strCookiesFile, "c.txt");
    EXPECT_TRUE(o.fresh);
    EXPECT_EQ(o.caFile, "ca.pem");
    EXPECT_TRUE(o.json);
    EXPECT_TRUE(o.verbose);

    // Without options, the desktop program's first-start defaults.
    CliOptions d;
    ASSERT_EQ(ParseCliArguments({"http://h/"}, d, error), CliCommand::Run);
    EXPECT_EQ(d.limits.m_nMaxLevels, CMirrorLimits{}.m_nMaxLevels);
    EXPECT_EQ(d.limits.m_nMaxFiles, 200u);
    EXPECT_EQ(d.limits.m_nMaxMegaBytes, 5u);
    EXPECT_EQ(d.limits.m_nMaxConnections, 6u);
    EXPECT_TRUE(d.limits.m_bModifyLinks);
    EXPECT_TRUE(d.limits.m_bObeyRobots);
    EXPECT_TRUE(d.dir.empty());
}

TEST(CliOptions, TheFolderNamedAfterTheHost) {
    const struct {
        const char* url;
        const char* dir;
    } cases[] = {
        {"https://example.com/docs/", "/w/example.com"},
        {"http://127.0.0.1:8080/a", "/w/127.0.0.1"},
        {"http://user:pw@h.org/", "/w/h.org"},
        {"http://[::1]:80/", "/w/__1"},
        {"http:///nohost", ""},
        {"not a url", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DefaultCopyDirectory(c.url, "/w"), c.dir) << c.url;
}

TEST(CliOptions, TheProgressLine) {
    RunProgress p;
    p.filesDone = 50;
    p.filesKnown = 200;
    p.bytes = 3 * 1048576 + 104858;
    p.failures = 2;
    const std::string line = CTerminalProgress::Line(p, 420 * 1024, 78);
    EXPECT_EQ(line,
              "[########......................] 25%  50/200 files  3.1 MB  420 KB/s  2 failed");
    EXPECT_LE(line.size(), 78u);
    p.failures = 0;
    p.filesKnown = 0;  // never fewer known than done
    EXPECT_EQ(CTerminalProgress::Line(p, 3 * 1048576, 78),
              "[##############################] 100%  50/50 files  3.1 MB  3.0 MB/s");
}

}  // namespace
}  // namespace tandril
