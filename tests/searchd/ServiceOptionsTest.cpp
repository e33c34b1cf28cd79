#include "searchd/ServiceOptions.h"

#include <gtest/gtest.h>

namespace {

ParsedServiceOptions parse(const QStringList& arguments) {
    return parseServiceOptions(QStringList{QStringLiteral("pellmar-searchd")} + arguments);
}

} // namespace

// Every refusal keeps the text and status the service has always given for it; the first
// fault on the command line is the one reported.
TEST(ServiceOptions, RefusesBadCommandLinesWithTheirTextAndStatus) {
    const QString lib = QStringLiteral("--library=.");
    struct Row {
        QStringList arguments;
        std::string error;
        int status;
    };
    const Row rows[] = {
        {{"--bogus"}, "Unknown option 'bogus'.", 1},
        {{lib, "--port"}, "Missing value after '--port'.", 1},
        {{}, "--library, --crawl or --sources is required (or --make-sample DIR)", 2},
        {{"--role", "serve"},
         "--library, --crawl or --sources is required (or --make-sample DIR)",
         2},
        {{"--make-sample", "d", "--count", "0"}, "--count needs a number from 1 to 100000", 2},
        {{lib, "--count", "x"}, "--count needs a number from 1 to 100000", 2},
        {{lib, "--recrawl", "8761"}, "--recrawl needs a number from 0 to 8760", 2},
        {{lib, "--per-host", "65"}, "--per-host needs a number from 1 to 64", 2},
        {{lib, "--max-pages", "0"}, "--max-pages needs a number from 1 to 10000000", 2},
        {{lib, "--max-depth", "-1"}, "--max-depth needs a number from 0 to 1000", 2},
        {{lib, "--role", "serves"}, "--role must be serve, crawl or both", 2},
        {{lib, "--lease", "1"}, "--lease needs a number from 2 to 86400", 2},
        {{lib, "--port", "70000"}, "--port needs a number from 0 to 65535", 2},
        {{lib, "--port", "80x"}, "--port needs a number from 0 to 65535", 2},
        {{lib, "--page-size", "1001"}, "--page-size needs a number from 1 to 1000", 2},
        {{lib, "--smb-host", "fileserver"}, "--smb-host must be an IP address", 2},
        {{lib, "--smb-host", "1fileserver"}, "--smb-host must be an IP address", 2},
        {{lib, "--smb-host", "10.0.0.256"}, "--smb-host must be an IP address", 2},
        {{lib, "--smb-host", "::1"}, "--smb-host must be an IP address", 2},
        {{lib, "--smb-host", ""}, "--smb-host must be an IP address", 2},
        {{lib, "--ftp-site", "anonymous@host"}, "--ftp-site must be written login@host:port", 2},
        {{lib, "--newest-version", "3.10"},
         "--newest-version must be three characters, such as " + std::string(kPellmarVersion),
         2},
        {{lib, "--data-version", "-1"}, "--data-version needs a number from 0 to 1000000", 2},
        {{lib, "--threads", "1025"}, "--threads needs a number from 0 to 1024", 2},
        {{lib, "--tls-cert", "c.pem"}, "--tls-cert and --tls-key go together", 2},
        {{lib, "--db", "a.db", "--database", "dbname=x"},
         "--db and --database name two different indexes: give one",
         2},
        // The switches for tests are not options of the shipped service.
        {{lib, "--fail-second-engine", "1"}, "Unknown option 'fail-second-engine'.", 1},
        {{lib, "--delay-ms", "10"}, "Unknown option 'delay-ms'.", 1},
    };
    for (const Row& row : rows) {
        const ParsedServiceOptions parsed = parse(row.arguments);
        const std::string line = row.arguments.join(' ').toStdString();
        EXPECT_FALSE(parsed.options) << line;
        EXPECT_EQ(parsed.error.toStdString(), row.error) << line;
        EXPECT_EQ(parsed.exitStatus, row.status) << line;
    }
}

TEST(ServiceOptions, ReadsWhatTheCommandLineSets) {
    const ParsedServiceOptions parsed =
        parse({"--library", "lib", "--port", "0", "--smb-host", "192.168.1.7", "--role", "crawl",
               "--crawl", "ftp://a/", "--crawl", "smb://b/c", "--ftp-not-leech", "--db", "x.db",
               "--max-depth", "0", "--newest-version", "4.0"});
    ASSERT_TRUE(parsed.options) << parsed.error.toStdString();
    const ServiceOptions& o = *parsed.options;
    EXPECT_EQ(o.settings.library, "lib");
    EXPECT_EQ(o.settings.port, 0);
    EXPECT_EQ(o.settings.smbHost, "192.168.1.7");
    EXPECT_EQ(o.crawlUrls, QStringList({"ftp://a/", "smb://b/c"}));
    EXPECT_FALSE(o.serves);
    EXPECT_TRUE(o.crawls);
    EXPECT_TRUE(o.settings.scanLibrary);
    EXPECT_FALSE(o.settings.ftpLeech);
    EXPECT_EQ(o.settings.database, "x.db");
    EXPECT_EQ(o.limits.maxDepth, 0);
    EXPECT_EQ(o.settings.version, "4.0");
}

// Rows of "arguments" -> what depends on more than one option.
TEST(ServiceOptions, DerivesRolesIndexesAndAddresses) {
    struct Row {
        QStringList arguments;
        bool serves, crawls, scanLibrary;
        const char* database;
        const char* smbHost;
    };
    const Row rows[] = {
        // Without --db or --database the caller picks the user's default file.
        {{"--library", "l"}, true, true, true, "", "127.0.0.1"},
        {{"--library", "l", "--role", "serve"}, true, false, false, "", "127.0.0.1"},
        // A service that only serves a shared database needs no library of its own.
        {{"--role", "serve", "--database", "dbname=x"}, true, false, false, "", "127.0.0.1"},
        // Without a library of its own a crawler leaves the index's library part alone.
        {{"--crawl", "http://h/", "--db", "i.db"}, true, true, false, "i.db", "127.0.0.1"},
        {{"--sources", "s.txt", "--smb-host", "127.1"}, true, true, false, "", "127.0.0.1"},
    };
    for (const Row& row : rows) {
        const ParsedServiceOptions parsed = parse(row.arguments);
        const std::string line = row.arguments.join(' ').toStdString();
        ASSERT_TRUE(parsed.options) << line << ": " << parsed.error.toStdString();
        EXPECT_EQ(parsed.options->serves, row.serves) << line;
        EXPECT_EQ(parsed.options->crawls, row.crawls) << line;
        EXPECT_EQ(parsed.options->settings.scanLibrary, row.scanLibrary) << line;
        EXPECT_EQ(parsed.options->settings.database, row.database) << line;
        EXPECT_EQ(parsed.options->settings.smbHost, row.smbHost) << line;
    }
}

TEST(ServiceOptions, MakingASampleNeedsNoOtherOption) {
    const ParsedServiceOptions parsed =
        parse({"--make-sample", "out", "--count", "5", "--role", "bogus"});
    ASSERT_TRUE(parsed.options) << parsed.error.toStdString();
    EXPECT_EQ(parsed.options->makeSample, "out");
    EXPECT_EQ(parsed.options->sampleCount, 5);
}

TEST(ServiceOptions, HelpListsTheOptionsAndIsNoError) {
    const ParsedServiceOptions parsed = parse({"--help"});
    EXPECT_FALSE(parsed.options);
    EXPECT_TRUE(parsed.error.isEmpty());
    EXPECT_EQ(parsed.exitStatus, 0);
    EXPECT_TRUE(parsed.help.contains("--smb-host <addr>"));
    EXPECT_TRUE(
        parsed.help.simplified().contains(QStringLiteral("(default %1)").arg(kPellmarVersion)));
    EXPECT_FALSE(parsed.help.contains("delay-ms"));
}
