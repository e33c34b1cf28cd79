#include "searchd/pages/ServiceFiles.h"

#include "core/DataFileConfig.h"
#include "platform/Errors.h"
#include "searchd/ServiceError.h"

namespace ServiceFiles {

QList<QString> dataFileLines(const QString& baseUrl, int dataVersion) {
    // charset=utf-8 before the words: our program and this service then agree on UTF-8.
    const QString query = QStringLiteral("?charset=utf-8&q=");
    return {QString::number(dataVersion),
            baseUrl,
            QStringLiteral("Pellmar search service"),
            QStringLiteral("0"),
            baseUrl + QLatin1String(kFirstEnginePath) +
                QStringLiteral("?since=&charset=utf-8&searchwords="),
            baseUrl + QLatin1String(kSecondEnginePath) + QStringLiteral("?charset=utf-8&words="),
            QStringLiteral("local"),
            baseUrl + QLatin1String(kSmbPath) + query,
            baseUrl + QLatin1String(kFtpPath) + query};
}

QByteArray dataFile(const QString& baseUrl, int dataVersion) {
    try {
        return ScrambledDataFile(dataFileLines(baseUrl, dataVersion));
    } catch (const PellmarError& error) {
        throw ServiceError(error.message() + QStringLiteral(" (use another host name)"));
    }
}

QByteArray versionFile(const QString& baseUrl, const QString& version, int dataVersion) {
    const QString text =
        QStringLiteral("Version=%1\r\nDownload=%2/\r\n%3\r\n%2%4\r\n")
            .arg(version, baseUrl, QString::number(dataVersion), QLatin1String(kDataFilePath));
    return text.toLatin1();
}

} // namespace ServiceFiles
