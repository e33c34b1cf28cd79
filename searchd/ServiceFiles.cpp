#include "searchd/ServiceFiles.h"

#include "app/core/TextHelpers.h"
#include "platform/Cp1252.h"
#include "searchd/SqliteDatabase.h"

namespace ServiceFiles {

QList<QString> dataFileLines(const QString& baseUrl, int dataVersion) {
    const QString query = QStringLiteral("?q=");
    return {QString::number(dataVersion),
            baseUrl,
            QStringLiteral("Pellmar search service"),
            QStringLiteral("0"),
            baseUrl + QLatin1String(kFirstEnginePath) + QStringLiteral("?since=&searchwords="),
            baseUrl + QLatin1String(kSecondEnginePath) + QStringLiteral("?words="),
            QStringLiteral("local"),
            baseUrl + QLatin1String(kSmbPath) + query,
            baseUrl + QLatin1String(kFtpPath) + query};
}

QByteArray dataFile(const QString& baseUrl, int dataVersion) {
    QByteArray content;
    const QList<QString> lines = dataFileLines(baseUrl, dataVersion);
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QByteArray scrambled = ScrambleText(Cp1252::fromUnicode(lines[i]));
        if (!FitsOnOneLine(scrambled))
            throw ServiceError(QStringLiteral("Line %1 of the data file cannot be stored "
                                              "scrambled; use another host name: %2")
                                   .arg(QString::number(i + 1), lines[i]));
        content += scrambled + "\r\n";
    }
    return content;
}

QByteArray versionFile(const QString& baseUrl, const QString& version, int dataVersion) {
    const QString text =
        QStringLiteral("Version=%1\r\nDownload=%2/\r\n%3\r\n%2%4\r\n")
            .arg(version, baseUrl, QString::number(dataVersion), QLatin1String(kDataFilePath));
    return text.toLatin1();
}

} // namespace ServiceFiles
