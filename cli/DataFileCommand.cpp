#include "cli/Commands.h"
#include "core/DataFileConfig.h"
#include "core/TextHelpers.h"
#include "platform/Cp1252.h"
#include "platform/Errors.h"

#include <QFile>
#include <cstdio>

namespace {

int fail(const QString& message) {
    std::fprintf(stderr, "pellmar-cli datafile: %s\n", qPrintable(message));
    return 1;
}

int decode(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("cannot open %1").arg(path));
    for (const QByteArray& line : SplitLines(file.readAll()))
        std::printf("%s\n", Cp1252::toUnicode(DescrambleText(line)).toLocal8Bit().constData());
    return 0;
}

int write(const QString& out, const QString& linesPath) {
    QFile source(linesPath);
    if (!source.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("cannot open %1").arg(linesPath));
    QList<QString> lines;
    for (const QByteArray& line : SplitLines(source.readAll()))
        lines.append(QString::fromUtf8(line));
    while (lines.size() > DataFileConfig::kLineCount && lines.back().isEmpty())
        lines.removeLast();
    try {
        WriteDataFile(out, lines);
    } catch (const PellmarError& error) {
        return fail(error.message());
    }
    return 0;
}

} // namespace

int runDataFileCommand(const QStringList& args) {
    if (args.size() == 2 && args[0] == QLatin1String("--decode"))
        return decode(args[1]);
    if (args.size() == 3 && args[0] == QLatin1String("-o"))
        return write(args[1], args[2]);
    return fail(QStringLiteral("usage: datafile -o FILE LINES.txt | datafile --decode FILE"));
}
