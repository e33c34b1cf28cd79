#pragma once

#include "net/HttpCli.h"
#include "support/EventLoopWait.h"

#include <QStringList>

// Records every event of a client as text, in order. Consecutive body chunks are kept as
// one "DocData" entry, because how the bytes are cut into batches is up to the network.
struct HttpClientLog {
    QStringList events;
    QByteArray body;
    int requestsDone = 0;
    QList<int> doneErrors;

    void Attach(THttpCli& client) {
        client.OnStateChange = [this](THttpCli* c) {
            events << QStringLiteral("State %1").arg(int(c->State()));
        };
        client.OnSessionConnected = [this](THttpCli*) { events << "SessionConnected"; };
        client.OnRequestHeaderBegin = [this](THttpCli*) { events << "RequestHeaderBegin"; };
        client.OnCommand = [this](THttpCli*, const QByteArray& line) {
            events << "Command " + QString::fromLatin1(line);
        };
        client.OnRequestHeaderEnd = [this](THttpCli*) { events << "RequestHeaderEnd"; };
        client.OnHeaderBegin = [this](THttpCli*) { events << "HeaderBegin"; };
        client.OnHeaderData = [this](THttpCli* c) {
            events << "HeaderData " + QString::fromLatin1(c->CurrentLine());
        };
        client.OnHeaderEnd = [this](THttpCli*) { events << "HeaderEnd"; };
        client.OnLocationChange = [this](THttpCli*) { events << "LocationChange"; };
        client.OnDocBegin = [this](THttpCli*) { events << "DocBegin"; };
        client.OnDocData = [this](THttpCli*, const char* data, int length) {
            body += QByteArray(data, length);
            if (events.isEmpty() || events.last() != "DocData")
                events << "DocData";
        };
        client.OnDocEnd = [this](THttpCli*) { events << "DocEnd"; };
        client.OnRequestDone = [this](THttpCli*, THttpRequest type, quint16 error) {
            events << QStringLiteral("RequestDone %1 %2").arg(int(type)).arg(error);
            ++requestsDone;
            doneErrors << error;
        };
    }
    int Count(const QString& event) const { return int(events.count(event)); }

    // Runs one request of the attached client into stream, to its OnRequestDone.
    bool Fetch(THttpCli& client, const QByteArray& url, QIODevice* stream = nullptr) {
        client.SetURL(url);
        client.SetReceiveStream(stream);
        const int before = requestsDone;
        client.GetAsync();
        return WaitFor([&] { return requestsDone > before; }, 60000);
    }
};
