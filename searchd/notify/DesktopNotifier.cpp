#include "searchd/notify/DesktopNotifier.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QFileInfo>
#include <QVariantMap>
#include <cstdio>

namespace {

const char kConnectionName[] = "pellmar-searchd-notifications";
constexpr int kCallTimeoutMs = 5000;

// The session bus's address: the one the user's session names, else the user's bus socket
// of systemd. Empty when there is none: the bus is never started for this.
QString sessionBusAddress() {
    QString named = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");
    if (!named.isEmpty())
        return named;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    const QString socket = runtime + QStringLiteral("/bus");
    if (!runtime.isEmpty() && QFileInfo(socket).exists())
        return QStringLiteral("unix:path=") + socket;
    return {};
}

// The notification service may read a little HTML in the body.
QString escapeMarkup(QString text) {
    text.replace(QLatin1Char('&'), QLatin1String("&amp;"));
    text.replace(QLatin1Char('<'), QLatin1String("&lt;"));
    text.replace(QLatin1Char('>'), QLatin1String("&gt;"));
    return text;
}

} // namespace

DesktopNotifier::DesktopNotifier(bool enabled) : m_enabled(enabled) {}

QString DesktopNotifier::summaryFor(const QString& words, int newFiles) {
    return QStringLiteral("Pellmar: %1 new %2 for \"%3\"")
        .arg(QString::number(newFiles),
             newFiles == 1 ? QStringLiteral("file") : QStringLiteral("files"), words);
}

QString DesktopNotifier::bodyFor(const QStringList& names) {
    QStringList lines = names.mid(0, kNamesShown);
    if (names.size() > kNamesShown)
        lines.append(QStringLiteral("and %1 more").arg(names.size() - kNamesShown));
    return lines.join(QLatin1Char('\n'));
}

bool DesktopNotifier::notify(const QString& summary, const QString& body) {
    if (!m_enabled)
        return false;
    const std::lock_guard lock(m_mutex);
    const QString address = sessionBusAddress();
    if (address.isEmpty()) {
        sayOnce(QStringLiteral("no session bus"));
        return false;
    }
    QDBusConnection bus =
        QDBusConnection::connectToBus(address, QString::fromLatin1(kConnectionName));
    if (!bus.isConnected()) {
        sayOnce(QStringLiteral("the session bus cannot be reached: ") + bus.lastError().message());
        QDBusConnection::disconnectFromBus(QString::fromLatin1(kConnectionName));
        return false;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    call << QStringLiteral("Pellmar") << 0u << QStringLiteral("audio-x-generic") << summary
         << escapeMarkup(body) << QStringList() << QVariantMap() << -1;
    const QDBusMessage reply = bus.call(call, QDBus::Block, kCallTimeoutMs);
    if (reply.type() == QDBusMessage::ErrorMessage) {
        sayOnce(reply.errorMessage());
        return false;
    }
    return true;
}

void DesktopNotifier::sayOnce(const QString& problem) {
    if (m_said)
        return;
    m_said = true;
    std::fprintf(stderr, "pellmar-searchd: no desktop notification: %s\n", qPrintable(problem));
    std::fflush(stderr);
}
