#include "cli/Commands.h"
#include "core/DataFileConfig.h"
#include "core/TextHelpers.h"
#include "platform/Cp1252.h"
#include "platform/Errors.h"

#include <cstdio>

namespace {

int fail(const QString& message) {
    std::fprintf(stderr, "pellmar-cli datafile: %s\n", qPrintable(message));
    return 1;
}

// The lines of a plain-text file. SplitLines ends a line's text at a zero byte; the line
// that held one keeps a zero character, so that the writer refuses it instead of storing
// a line cut short.
QList<QString> plainLines(const QByteArray& bytes) {
    QList<QString> lines;
    for (const QByteArray& line : SplitLines(bytes))
        lines.append(QString::fromUtf8(line));
    const qsizetype zero = bytes.indexOf('\0');
    if (zero >= 0) {
        const QByteArray before = bytes.left(zero);
        qsizetype index = SplitLines(before).size();
        if (!before.isEmpty() && !before.endsWith('\r') && !before.endsWith('\n'))
            --index; // the zero sits on the last line begun before it
        lines[index] += QChar(0);
    }
    return lines;
}

int decode(const QString& path) {
    QByteArray content;
    try {
        content = DataFileConfig::readFile(path);
    } catch (const PellmarError& error) {
        return fail(error.message());
    }
    for (const QByteArray& line : SplitLines(content))
        std::printf("%s\n", Cp1252::toUnicode(DescrambleText(line)).toLocal8Bit().constData());
    return 0;
}

int write(const QString& out, const QString& linesPath) {
    try {
        QList<QString> lines = plainLines(DataFileConfig::readFile(linesPath));
        while (lines.size() > DataFileConfig::kLineCount && lines.back().isEmpty())
            lines.removeLast();
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
