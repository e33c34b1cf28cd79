#include "core/DataFileConfig.h"

#include "core/TextHelpers.h"
#include "platform/Cp1252.h"
#include "platform/Errors.h"

#include <QFile>
#include <QSaveFile>

namespace {

QByteArray readWhole(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw EFOpenError(QStringLiteral("Cannot open file %1").arg(path));
    return file.readAll();
}

} // namespace

DataFileConfig::LoadResult DataFileConfig::load(const QString& path) {
    const QList<QByteArray> lines = SplitLines(readWhole(path));
    if (lines.isEmpty())
        return LoadResult::Empty;

    auto line = [&](qsizetype index) {
        if (index >= lines.size())
            throwListIndexError(index);
        return Cp1252::toUnicode(DescrambleText(lines[index]));
    };
    DataVersion = StrToInt(line(0));
    HomeUrl = line(1);
    Line3 = line(2);
    StrToInt(line(3)); // only checked; the value is not used
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
        if (!FitsOnOneLine(scrambled))
            throw PellmarError(QStringLiteral("Line %1 of the data file cannot be stored "
                                              "scrambled; change its length: %2")
                                   .arg(i + 1)
                                   .arg(plainLines[i]));
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
