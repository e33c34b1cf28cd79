#include "core/DataFileConfig.h"

#include "core/TextHelpers.h"
#include "platform/Cp1252.h"
#include "platform/Errors.h"

#include <QFile>
#include <QSaveFile>

namespace {

int lineToInteger(const QString& line) {
    const std::optional<int> value = TryStrToInt(line);
    if (!value)
        throw EConvertError(
            QStringLiteral("'%1' is not a valid integer value").arg(QuotedLine(line)));
    return *value;
}

} // namespace

QString QuotedLine(const QString& line) {
    if (line.size() <= DataFileConfig::kQuotedChars)
        return line;
    return line.left(DataFileConfig::kQuotedChars) + QStringLiteral("...");
}

QByteArray DataFileConfig::readFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw EFOpenError(QStringLiteral("Cannot open file %1").arg(path));
    // Read one byte past the limit: a device or a pipe has no size to ask for.
    QByteArray content = file.read(kMaxFileBytes + 1);
    if (content.size() > kMaxFileBytes)
        throw EFOpenError(QStringLiteral("Cannot open file %1: it is larger than %2 bytes")
                              .arg(path)
                              .arg(kMaxFileBytes));
    return content;
}

DataFileConfig::LoadResult DataFileConfig::load(const QString& path) {
    const QList<QByteArray> lines = SplitLines(readFile(path));
    if (lines.isEmpty())
        return LoadResult::Empty;

    auto line = [&](qsizetype index) {
        if (index >= lines.size())
            throwListIndexError(index);
        return Cp1252::toUnicode(DescrambleText(lines[index]));
    };
    DataVersion = lineToInteger(line(0));
    HomeUrl = line(1);
    Line3 = line(2);
    lineToInteger(line(3)); // only checked; the value is not used
    HttpQueryUrl1 = line(4);
    HttpQueryUrl2 = line(5);
    Line7 = line(6);
    SmbQueryUrl = line(7);
    FtpQueryUrl = line(8);
    return LoadResult::Loaded;
}

QList<QString> DataFileConfig::plainLines() const {
    return {QString::number(DataVersion),
            HomeUrl,
            Line3,
            QStringLiteral("0"),
            HttpQueryUrl1,
            HttpQueryUrl2,
            Line7,
            SmbQueryUrl,
            FtpQueryUrl};
}

QByteArray ScrambledDataFile(const QList<QString>& plainLines) {
    if (plainLines.size() != DataFileConfig::kLineCount)
        throw PellmarError(QStringLiteral("A data file needs %1 lines, not %2")
                               .arg(DataFileConfig::kLineCount)
                               .arg(plainLines.size()));
    QByteArray content;
    for (qsizetype i = 0; i < plainLines.size(); ++i) {
        const QByteArray scrambled = ScrambleText(Cp1252::fromUnicode(plainLines[i]));
        // A zero character would end the line's text when it is read back.
        if (plainLines[i].contains(QChar(0)))
            throw PellmarError(QStringLiteral("Line %1 of the data file holds a zero character, "
                                              "which cannot be stored")
                                   .arg(i + 1));
        if (!FitsOnOneLine(scrambled))
            throw PellmarError(QStringLiteral("Line %1 of the data file cannot be stored "
                                              "scrambled; change its length: %2")
                                   .arg(i + 1)
                                   .arg(QuotedLine(plainLines[i])));
        content += scrambled + "\r\n";
    }
    return content;
}

void WriteDataFile(const QString& path, const QList<QString>& plainLines) {
    const QByteArray content = ScrambledDataFile(plainLines);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size() || !file.commit())
        throw PellmarError(QStringLiteral("Unable to write to %1").arg(path));
}
