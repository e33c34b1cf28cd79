#include "cli/Commands.h"
#include "cli/TerminalText.h"
#include "core/DataFileConfig.h"
#include "net/HttpCli.h"
#include "platform/Errors.h"
#include "platform/ProgramFolder.h"

#include <QBuffer>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>
#include <cstdio>

// pellmar-cli saved: lists the searches saved in the search service that the program
// folder's data file names (pellmar-searchd's GET /api/saved), and the files each found
// that the user has not marked seen. One TAB-separated line per search - "saved", id, words,
// kind, minimum bitrate, "genuine" or "any", the count of new files - and after it one per
// new file - "new", the search's id, kind, name, size, quality, URL. Exit code 0 when the
// list was read, 1 when the service could not give it, 2 for wrong arguments.

namespace {

int fail(const QString& message) {
    std::fprintf(stderr, "pellmar-cli saved: %s\n", forTerminal(message).constData());
    return 1;
}

// "http://host:port" of the service that answers the program's first engine.
QByteArray serviceBase(const DataFileConfig& config) {
    const QUrl engine(config.HttpQueryUrl1);
    if (!engine.isValid() || engine.host().isEmpty())
        return {};
    return engine
        .adjusted(QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment |
                  QUrl::RemoveUserInfo)
        .toEncoded();
}

void printLine(const QStringList& fields) {
    QList<QByteArray> shown;
    for (const QString& field : fields)
        shown.append(forTerminal(field));
    std::printf("%s\n", shown.join('\t').constData());
}

// "192 kbit/s VBR, genuine"; "-" when nothing is known.
QString quality(const QJsonObject& match) {
    QStringList parts;
    if (match.value(QStringLiteral("bitrate")).isDouble())
        parts.append(QStringLiteral("%1 kbit/s %2")
                         .arg(match.value(QStringLiteral("bitrate")).toInt())
                         .arg(match.value(QStringLiteral("mode")).toString())
                         .trimmed());
    const QString verdict = match.value(QStringLiteral("verdict")).toString();
    if (!verdict.isEmpty() && verdict != QLatin1String("unknown"))
        parts.append(verdict);
    return parts.isEmpty() ? QStringLiteral("-") : parts.join(QStringLiteral(", "));
}

void printSearches(const QJsonArray& searches) {
    for (const auto& value : searches) {
        const QJsonObject search = value.toObject();
        const QString id = QString::number(search.value(QStringLiteral("id")).toInteger());
        const QJsonArray matches = search.value(QStringLiteral("newMatches")).toArray();
        printLine({QStringLiteral("saved"), id, search.value(QStringLiteral("words")).toString(),
                   search.value(QStringLiteral("kind")).toString(),
                   QString::number(search.value(QStringLiteral("minBitrate")).toInt()),
                   search.value(QStringLiteral("genuineOnly")).toBool() ? QStringLiteral("genuine")
                                                                        : QStringLiteral("any"),
                   QStringLiteral("%1 new").arg(matches.size())});
        for (const auto& found : matches) {
            const QJsonObject match = found.toObject();
            printLine({QStringLiteral("new"), id, match.value(QStringLiteral("kind")).toString(),
                       match.value(QStringLiteral("name")).toString(),
                       QString::number(match.value(QStringLiteral("size")).toInteger()),
                       quality(match), match.value(QStringLiteral("url")).toString()});
        }
    }
}

} // namespace

int runSavedCommand(const QStringList& args) {
    if (!args.isEmpty()) {
        std::fputs("usage: pellmar-cli saved\n", stderr);
        return 2;
    }
    QByteArray base;
    try {
        DataFileConfig config;
        config.load(ProgramFolder::file(QStringLiteral("Pellmar.dat")));
        base = serviceBase(config);
    } catch (const PellmarError& error) {
        return fail(error.message());
    }
    if (base.isEmpty())
        return fail(QStringLiteral("the data file names no search service"));

    QBuffer body;
    body.open(QIODevice::WriteOnly);
    THttpCli client;
    client.SetURL(base + "/api/saved");
    client.SetReceiveStream(&body);
    QEventLoop loop;
    client.OnRequestDone = [&](THttpCli*, THttpRequest, quint16) { loop.quit(); };
    try {
        client.GetAsync();
    } catch (const PellmarError& error) {
        client.Abort();
        loop.exec();
        return fail(error.message());
    }
    loop.exec();
    if (client.RequestError() != 0 || client.StatusCode() != 200)
        return fail(QStringLiteral("%1/api/saved answered %2")
                        .arg(QString::fromLatin1(base))
                        .arg(client.StatusCode()));
    const QJsonDocument answer = QJsonDocument::fromJson(body.data());
    if (!answer.isObject())
        return fail(QStringLiteral("%1/api/saved gave no list").arg(QString::fromLatin1(base)));
    printSearches(answer.object().value(QStringLiteral("searches")).toArray());
    std::fflush(stdout);
    return 0;
}
