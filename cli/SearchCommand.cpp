#include "cli/Commands.h"
#include "cli/ConsolePlatform.h"
#include "core/DataFileConfig.h"
#include "core/HitRecords.h"
#include "platform/Cp1252.h"
#include "platform/Errors.h"
#include "platform/ProgramFolder.h"
#include "platform/SettingsFile.h"
#include "search/HitRows.h"
#include "search/SearchRun.h"

#include <QCoreApplication>
#include <QTimer>
#include <cstdio>

// pellmar-cli search TEXT [--sources http,ftp,smb] [--leech]: runs the program's search
// without windows, with the settings and the data file of the program folder. When the
// run ends ("Done", the time limit, or nothing left on its way) it prints one line per hit
// - kind, caption, size, file info, quality mark, URL or remote path, TAB-separated - and
// then the final status with the count of each source. Exit code 0 when the search ran,
// 1 when it could not start, 2 for wrong arguments.

namespace {

bool ParseOptions(const QStringList& args, const SettingsFile& ini, QString& text,
                  SearchSources& sources) {
    const QString options = QStringLiteral("Options");
    sources.http = ini.readBool(options, QStringLiteral("SearchHttp"), true);
    sources.ftp = ini.readBool(options, QStringLiteral("SearchFtp"), true);
    sources.smb = ini.readBool(options, QStringLiteral("SearchSMB"), true);
    bool haveText = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--leech")) {
            sources.onlyLeech = true;
        } else if (args[i] == QLatin1String("--sources") && i + 1 < args.size()) {
            const QStringList kinds = args[++i].split(QLatin1Char(','));
            for (const QString& kind : kinds) {
                if (kind != QLatin1String("http") && kind != QLatin1String("ftp") &&
                    kind != QLatin1String("smb"))
                    return false;
            }
            sources.http = kinds.contains(QLatin1String("http"));
            sources.ftp = kinds.contains(QLatin1String("ftp"));
            sources.smb = kinds.contains(QLatin1String("smb"));
        } else if (!haveText) {
            text = args[i];
            haveText = true;
        } else {
            return false;
        }
    }
    return haveText;
}

void printLine(const QList<QByteArray>& fields) {
    const QByteArray line = fields.join('\t');
    std::printf("%s\n", Cp1252::toUnicode(line).toLocal8Bit().constData());
}

QByteArray mark(const SearchHit& row) {
    return QByteArray::number(row.image);
}

void printHits(const SearchRun& run, const SettingsFile& ini) {
    HitRowMaker rows(ini);
    for (const QByteArray& line : run.HttpHitStore()) {
        const HttpHitRecord hit = HttpHitRecord::fromLine(line);
        const SearchHit row =
            rows.make(hit.name, hit.size, hit.stereo, hit.sampleRate, hit.bitrate);
        printLine({"http", row.caption, row.size, row.info, mark(row), hit.url});
    }
    for (const QByteArray& line : run.FtpHitStore()) {
        const ListingRecord hit = ListingRecord::fromLine(line);
        printLine({"ftp", hit.name, hit.rest, "", QByteArray::number(qmUnknown),
                   "ftp://" + hit.host + hit.folder + hit.name});
    }
    for (const QByteArray& line : run.SmbHitStore()) {
        const ListingRecord hit = ListingRecord::fromLine(line);
        bool plain = false;
        const qint64 size = hit.rest.toLongLong(&plain);
        const SearchHit row = rows.make(hit.name, plain ? size : 0, false, 0, 0);
        printLine({"smb", row.caption, row.size, row.info, mark(row),
                   "\\\\" + hit.host + hit.folder + hit.name});
    }
}

} // namespace

int runSearchCommand(const QStringList& args) {
    SettingsFile ini(ProgramFolder::file(QStringLiteral("Pellmar.ini")));
    QString text;
    SearchSources sources;
    if (!ParseOptions(args, ini, text, sources)) {
        std::fputs("usage: pellmar-cli search TEXT [--sources http,ftp,smb] [--leech]\n", stderr);
        return 2;
    }
    ConsolePlatform console;
    SearchRun run(ini, ProgramFolder::path(), console.platform);
    QString finalStatus;
    QObject::connect(&run, &SearchRun::statusChanged, [&](const QString& status) {
        if (!status.isEmpty())
            finalStatus = status;
    });
    // The run ends when it says so, or when nothing of it is on its way any more (a search
    // of FTP and SMB only would otherwise wait for the time limit).
    const auto end = [] { QTimer::singleShot(0, qApp, &QCoreApplication::quit); };
    QObject::connect(&run, &SearchRun::searchingChanged, [&](bool searching) {
        if (!searching)
            end();
    });
    QObject::connect(&run, &SearchRun::workEnded, end);
    try {
        DataFileConfig config;
        config.load(ProgramFolder::file(QStringLiteral("Pellmar.dat")));
        run.setServiceUrls(SearchServiceUrls::fromDataFile(config));
        run.SearchButtonClick(text, sources);
        if (!run.isSearching())
            return 1;
        QCoreApplication::exec();
        if (run.isSearching())
            run.AbortButtonClick();
        printHits(run, ini);
    } catch (const PellmarError& error) {
        std::fprintf(stderr, "pellmar-cli: %s\n", error.message().toLocal8Bit().constData());
        return 1;
    }
    std::printf("%s\thttp %lld\tsmb %lld\tftp %lld\n", finalStatus.toLocal8Bit().constData(),
                static_cast<long long>(run.HttpHitStore().size()),
                static_cast<long long>(run.SmbHitStore().size()),
                static_cast<long long>(run.FtpHitStore().size()));
    return 0;
}
