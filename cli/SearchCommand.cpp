#include "cli/Commands.h"
#include "cli/ConsolePlatform.h"
#include "cli/TerminalText.h"
#include "core/DataFileConfig.h"
#include "core/HitRecords.h"
#include "core/HitText.h"
#include "core/UserOptions.h"
#include "platform/Errors.h"
#include "platform/ProgramFolder.h"
#include "platform/SettingsFile.h"
#include "search/HitRows.h"
#include "search/HitSaver.h"
#include "search/SearchRun.h"

#include <QDir>
#include <QEventLoop>
#include <QTimer>
#include <cstdio>

// pellmar-cli search TEXT [--sources http,ftp,smb] [--leech] [--new-only]
// [--save DIR [--marks 0|01|012]]: runs the program's search without windows, with the settings and
// the data file of the program folder. When the run ends ("Done", the time limit, or nothing left
// on its way) it prints one line per hit - kind, caption, size, file info, quality mark, URL or
// remote path, TAB-separated - and then the final status with the count of each source. With --save
// it then saves the HTTP hits whose quality mark is one of --marks (default 0, the hits that meet
// the quality settings) and every FTP and SMB hit into DIR, and prints one line per hit: kind,
// caption, the file and "ok" or the reason. Exit code 0 when the search ran (and every chosen hit
// was saved), 1 when it could not start (or a hit was not saved), 2 for wrong arguments. --new-only
// (or the option "Hide songs I have") asks our own service to leave out the songs the user's
// library holds at the same or better quality.

namespace {

const char kUsage[] = "usage: pellmar-cli search TEXT [--sources http,ftp,smb] [--leech]"
                      " [--new-only] [--save DIR [--marks 0|01|012]]\n";

// How long a listing still on its way after "Done" is waited for.
constexpr int kListingWaitMs = 30000;

struct SaveOptions {
    QString folder; // empty: nothing is saved
    QSet<int> marks{qmGood};
};

// A non-empty set of the marks 0, 1 and 2.
bool ParseMarks(const QString& text, QSet<int>& marks) {
    marks.clear();
    for (QChar digit : text) {
        if (digit < QLatin1Char('0') || digit > QLatin1Char('2'))
            return false;
        marks.insert(digit.unicode() - '0');
    }
    return !marks.isEmpty();
}

bool ParseOptions(const QStringList& args, const SettingsFile& ini, QString& text,
                  SearchSources& sources, SaveOptions& save) {
    bool haveMarks = false;
    const QString options = QStringLiteral("Options");
    sources.http = ini.readBool(options, QStringLiteral("SearchHttp"), true);
    sources.ftp = ini.readBool(options, QStringLiteral("SearchFtp"), true);
    sources.smb = ini.readBool(options, QStringLiteral("SearchSMB"), true);
    bool haveText = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--new-only")) {
            sources.newOnly = true;
        } else if (args[i] == QLatin1String("--leech")) {
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
        } else if (args[i] == QLatin1String("--save") && i + 1 < args.size()) {
            save.folder = args[++i];
            if (save.folder.isEmpty())
                return false;
        } else if (args[i] == QLatin1String("--marks") && i + 1 < args.size()) {
            if (!ParseMarks(args[++i], save.marks))
                return false;
            haveMarks = true;
        } else if (!haveText) {
            text = args[i];
            haveText = true;
        } else {
            return false;
        }
    }
    return haveText && (!haveMarks || !save.folder.isEmpty());
}

void printLine(const QList<QByteArray>& fields) {
    QList<QByteArray> shown;
    for (const QByteArray& field : fields)
        shown.append(forTerminal(HitText::toUnicode(field)));
    std::printf("%s\n", shown.join('\t').constData());
}

void printError(const QString& message) {
    std::fprintf(stderr, "pellmar-cli: %s\n", forTerminal(message).constData());
}

QByteArray mark(const SearchHit& row) {
    return QByteArray::number(row.image);
}

void printHits(const SearchRun& run, const SettingsFile& ini) {
    HitRowMaker rows(ini);
    for (const QByteArray& line : run.HttpHitStore()) {
        const HttpHitRecord hit = HttpHitRecord::fromLine(line);
        const SearchHit row =
            rows.make(hit.name, hit.size, hit.stereo, hit.sampleRate, hit.bitrate, hit.rateMode);
        printLine({"http", row.caption, row.size, row.info, mark(row), hit.url});
    }
    for (const QByteArray& line : run.FtpHitStore()) {
        const ListingRecord hit = ListingRecord::fromLine(line);
        printLine({"ftp", hit.name, hit.sizeText(), "", QByteArray::number(qmUnknown),
                   HitText::joined({"ftp://", hit.host, hit.folder, hit.name})});
    }
    for (const QByteArray& line : run.SmbHitStore()) {
        const ListingRecord hit = ListingRecord::fromLine(line);
        bool plain = false;
        const qint64 size = hit.sizeText().toLongLong(&plain);
        const SearchHit row = rows.make(hit.name, plain ? size : 0, false, 0, 0);
        printLine({"smb", row.caption, row.size, row.info, mark(row),
                   HitText::joined({"\\\\", hit.host, hit.folder, hit.name})});
    }
}

// The user's limit of simultaneous downloads when it is on, else a few at once.
int ParallelSaves(const SettingsFile& ini) {
    try {
        if (UserOptions::LimitApplies(ini) && UserOptions::LimitNumber(ini) > 0)
            return UserOptions::LimitNumber(ini);
    } catch (const PellmarError&) {
        // a limit that is not a number limits nothing here
    }
    return HitSaver::kDefaultParallel;
}

// Saves the chosen hits into the folder, one line per hit; true when every one was saved.
bool SaveHits(const SearchRun& run, const SettingsFile& ini, const SaveOptions& save) {
    const QString folder = QDir(save.folder).absolutePath();
    if (!QDir().mkpath(folder)) {
        printError(QStringLiteral("cannot create the folder ") + folder);
        return false;
    }
    HitSaver saver(ini, ProgramFolder::path(), folder, save.marks, ParallelSaves(ini));
    QObject::connect(&saver, &HitSaver::saved, [](const HitSaver::Result& result) {
        const QString outcome = result.problem.isEmpty() ? QStringLiteral("ok") : result.problem;
        std::printf("%s\t%s\t%s\t%s\n", result.kind.constData(),
                    forTerminal(HitText::toUnicode(result.caption)).constData(),
                    forTerminal(result.file).constData(), forTerminal(outcome).constData());
        std::fflush(stdout);
    });
    QEventLoop loop;
    QObject::connect(&saver, &HitSaver::finished, &loop, &QEventLoop::quit, Qt::QueuedConnection);
    saver.start({run.HttpHitStore(), run.SmbHitStore(), run.FtpHitStore()});
    loop.exec();
    return saver.failures() == 0;
}

} // namespace

int runSearchCommand(const QStringList& args) {
    SettingsFile ini(ProgramFolder::file(QStringLiteral("Pellmar.ini")));
    QString text;
    SearchSources sources;
    SaveOptions save;
    if (!ParseOptions(args, ini, text, sources, save)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    ConsolePlatform console;
    SearchRun run(ini, ProgramFolder::path(), console.platform);
    QString finalStatus;
    QObject::connect(&run, &SearchRun::statusChanged, [&](const QString& status) {
        if (!status.isEmpty())
            finalStatus = status;
    });
    // The run ends when nothing of it is on its way any more (a search of FTP and SMB only
    // would otherwise wait for the time limit). "Done" only means that the engines and the
    // probes are over: an FTP or SMB listing may still arrive, and is waited for a while.
    QEventLoop loop;
    const auto end = [&loop] { QTimer::singleShot(0, &loop, &QEventLoop::quit); };
    QObject::connect(&run, &SearchRun::searchingChanged, [&](bool searching) {
        if (searching)
            return;
        if (!run.hasWorkInFlight())
            end();
        else
            QTimer::singleShot(kListingWaitMs, &loop, &QEventLoop::quit);
    });
    QObject::connect(&run, &SearchRun::workEnded, end);
    try {
        DataFileConfig config;
        config.load(ProgramFolder::file(QStringLiteral("Pellmar.dat")));
        run.setServiceUrls(SearchServiceUrls::fromDataFile(config));
        run.SearchButtonClick(text, sources);
        if (!run.isSearching())
            return 1;
        loop.exec();
        if (run.isSearching())
            run.AbortButtonClick();
        printHits(run, ini);
    } catch (const PellmarError& error) {
        printError(error.message());
        return 1;
    }
    std::printf("%s\thttp %lld\tsmb %lld\tftp %lld\n", forTerminal(finalStatus).constData(),
                static_cast<long long>(run.HttpHitStore().size()),
                static_cast<long long>(run.SmbHitStore().size()),
                static_cast<long long>(run.FtpHitStore().size()));
    std::fflush(stdout);
    if (save.folder.isEmpty())
        return 0;
    try {
        return SaveHits(run, ini, save) ? 0 : 1;
    } catch (const PellmarError& error) {
        printError(error.message());
        return 1;
    }
}
