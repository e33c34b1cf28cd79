#include "service/DdeService.h"

#include <QDBusConnection>
#include <QDBusError>
#include <QFileInfo>

DdeService::DdeService(QObject* parent) : QObject(parent) {}

QString DdeService::busNameFor(const QString& executablePath) {
    QString name = QFileInfo(executablePath).fileName().section(QLatin1Char('.'), 0, 0);
    for (QChar& c : name) {
        const bool allowed = (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
                             (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
                             (c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
                             c == QLatin1Char('_') || c == QLatin1Char('-');
        if (!allowed)
            c = QLatin1Char('_');
    }
    if (name.isEmpty() || name.front().isDigit())
        name.prepend(QLatin1Char('_'));
    return QStringLiteral("net.pellmar.") + name;
}

bool DdeService::registerOn(QDBusConnection& bus, const QString& busName) {
    if (!bus.isConnected())
        return false;
    if (!bus.registerObject(QString::fromLatin1(kObjectPath), this,
                            QDBusConnection::ExportScriptableSlots |
                                QDBusConnection::ExportScriptableSignals))
        return false;
    if (bus.registerService(busName))
        return true;
    bus.unregisterObject(QString::fromLatin1(kObjectPath));
    return false;
}

QString DdeService::Request(const QString& topic, const QString& item) {
    if (!isOurItem(topic, item))
        return QString();
    return m_text;
}

void DdeService::Poke(const QString& topic, const QString& item, const QString& text) {
    if (!isOurItem(topic, item))
        return;
    m_text = text;
    PellmarDDEItemPokeData();
    emit Changed(QString::fromLatin1(kTopic), QString::fromLatin1(kItem), m_text);
}

// Answers a caller on the bus with an error naming what it got wrong.
bool DdeService::isOurItem(const QString& topic, const QString& item) {
    QString error;
    QString message;
    if (topic.compare(QLatin1String(kTopic), Qt::CaseInsensitive) != 0) {
        error = QStringLiteral("net.pellmar.Dde.Error.UnknownTopic");
        message = QStringLiteral("Unknown topic \"%1\": the topic is %2")
                      .arg(topic, QLatin1String(kTopic));
    } else if (item != QLatin1String(kItem)) {
        error = QStringLiteral("net.pellmar.Dde.Error.UnknownItem");
        message =
            QStringLiteral("Unknown item \"%1\": the item is %2").arg(item, QLatin1String(kItem));
    } else {
        return true;
    }
    if (calledFromDBus())
        sendErrorReply(error, message);
    return false;
}
