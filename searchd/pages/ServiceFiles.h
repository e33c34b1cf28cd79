#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// The small files the service hands out about itself. baseUrl is "http://host:port", or
// "https://host:port" when the service speaks TLS.
namespace ServiceFiles {

inline constexpr char kFirstEnginePath[] = "/cgi-bin/mp3asp/search.asp";
inline constexpr char kSecondEnginePath[] = "/audiofind/search";
inline constexpr char kSmbPath[] = "/smb/search";
inline constexpr char kFtpPath[] = "/ftp/search";
inline constexpr char kFilesPath[] = "/files/";
inline constexpr char kVersionPath[] = "/version2.txt";
inline constexpr char kDataFilePath[] = "/Pellmar.dat";
inline constexpr char kSubmissionsPath[] = "/submissions";

// The nine plain lines of a data file whose addresses are this service's; its query
// addresses carry charset=utf-8, so that our program and this service agree on UTF-8.
QList<QString> dataFileLines(const QString& baseUrl, int dataVersion);

// Those lines scrambled, CR LF after each: the data file the update check fetches.
// Throws ServiceError when a line cannot be stored scrambled (a longer or shorter host
// name helps).
QByteArray dataFile(const QString& baseUrl, int dataVersion);

// "/version2.txt": the newest program version (three characters), the download page, the
// data version and the URL of the data file.
QByteArray versionFile(const QString& baseUrl, const QString& version, int dataVersion);

} // namespace ServiceFiles
