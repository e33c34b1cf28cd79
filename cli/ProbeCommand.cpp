#include "cli/Commands.h"
#include "core/Mpeg3Head.h"
#include "core/UserOptions.h"
#include "platform/Errors.h"
#include "platform/ProgramFolder.h"
#include "platform/SettingsFile.h"

#include <QFileInfo>
#include <cstdio>

// pellmar-cli probe FILE...: reads each file's MPEG frame header as the search's probe does
// (past an ID3v2 tag when "SkipId3Tags" of the program folder's settings is on) and prints
// one line per file: the file, "ok" or the error text, bitrate, sample rate and mode name,
// TAB-separated. Exit code 0 when every file read well, 1 otherwise, 2 without files.

namespace {

// Prints the file's line; true when its header read well.
bool printProbe(TMpeg3Head& head, const QString& path) {
    const QFileInfo info(path);
    QList<QByteArray> fields = {path.toLocal8Bit()};
    bool ok = false;
    try {
        ok = head.ReadFrameHeader(info.path() + QLatin1Char('/'), info.fileName());
        const FrameHeader& h = head.header();
        fields << (ok ? QByteArray("ok") : h.error) << h.bitrate << h.sampleRate << h.mode;
    } catch (const PellmarError& error) { // a file that cannot be opened
        fields << error.message().toLocal8Bit() << QByteArray() << QByteArray() << QByteArray();
    }
    const QByteArray line = fields.join('\t') + '\n';
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    return ok;
}

} // namespace

int runProbeCommand(const QStringList& args) {
    if (args.isEmpty()) {
        std::fputs("usage: pellmar-cli probe FILE...\n", stderr);
        return 2;
    }
    const SettingsFile ini(ProgramFolder::file(QStringLiteral("Pellmar.ini")));
    TMpeg3Head head(UserOptions::SkipId3Tags(ini));
    bool allRead = true;
    for (const QString& path : args)
        allRead = printProbe(head, path) && allRead;
    return allRead ? 0 : 1;
}
