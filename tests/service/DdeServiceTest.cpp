#include "service/DdeService.h"
#include "support/EventLoopWait.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QProcess>
#include <gtest/gtest.h>

// These tests run under dbus-run-session: a private session bus of their own.
// Records the change signals another program receives.
class ChangeListener : public QObject {
    Q_OBJECT
public slots:
    void changed(const QString& topic, const QString& item, const QString& text) {
        seen.append({topic, item, text});
    }

public:
    QList<QStringList> seen;
};

namespace {

const QString kInterface = QStringLiteral("net.pellmar.Dde");

// The item offered by this process, and a second connection that plays another program.
struct BusFixture {
    QDBusConnection server = QDBusConnection::sessionBus();
    QDBusConnection client =
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("client"));
    DdeService service;
    QString busName = DdeService::busNameFor(QCoreApplication::applicationFilePath());
    bool registered = service.registerOn(server, busName);

    // Asynchronous: the item answers from this thread's event loop.
    QDBusMessage call(const QString& method, const QVariantList& args) {
        QDBusMessage message =
            QDBusMessage::createMethodCall(busName, QStringLiteral("/dde"), kInterface, method);
        message.setArguments(args);
        QDBusPendingCall pending = client.asyncCall(message);
        WaitFor([&] { return pending.isFinished(); });
        return pending.reply();
    }
};

} // namespace

TEST(DdeService, BusNameFollowsTheExecutable) {
    const QList<QPair<QString, QString>> rows = {
        {"/opt/pellmar/Pellmar", "net.pellmar.Pellmar"},
        {"C:/Program Files/Pellmar.exe", "net.pellmar.Pellmar"},
        {"/usr/bin/pellmar.bin.old", "net.pellmar.pellmar"},
        {"/tmp/my pellmar+2", "net.pellmar.my_pellmar_2"},
        {"/tmp/2go", "net.pellmar._2go"},
    };
    for (const auto& [path, name] : rows)
        EXPECT_EQ(DdeService::busNameFor(path), name) << path.toStdString();
}

TEST(DdeService, RequestPokeAndChangeSignal) {
    BusFixture bus;
    ASSERT_TRUE(bus.registered) << "no session bus: run under dbus-run-session";
    EXPECT_FALSE(DdeService().registerOn(bus.server, bus.busName)); // a second instance

    ChangeListener listener;
    ASSERT_TRUE(bus.client.connect(bus.busName, QStringLiteral("/dde"), kInterface,
                                   QStringLiteral("Changed"), &listener,
                                   SLOT(changed(QString, QString, QString))));

    struct Row {
        const char* method;
        QVariantList args;
        QString replyText;
        QString errorName;
    };
    const QList<Row> rows = {
        {"Request", {"PellmarDDETopic", "PellmarDDEItem"}, "127.0.0.1 FtpServerIsDown", {}},
        {"Poke", {"PellmarDDETopic", "PellmarDDEItem", "10.1.2.3 FtpServerIsUp"}, {}, {}},
        {"Request", {"pellmarddetopic", "PellmarDDEItem"}, "10.1.2.3 FtpServerIsUp", {}},
        {"Request", {"OtherTopic", "PellmarDDEItem"}, {}, "net.pellmar.Dde.Error.UnknownTopic"},
        {"Poke",
         {"PellmarDDETopic", "pellmarddeitem", "x"},
         {},
         "net.pellmar.Dde.Error.UnknownItem"},
        {"Request", {"PELLMARDDETOPIC", "PellmarDDEItem"}, "10.1.2.3 FtpServerIsUp", {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(QString::fromLatin1(row.method).toStdString() + " " +
                     row.args.value(0).toString().toStdString());
        const QDBusMessage reply = bus.call(QString::fromLatin1(row.method), row.args);
        if (!row.errorName.isEmpty()) {
            EXPECT_EQ(reply.type(), QDBusMessage::ErrorMessage);
            EXPECT_EQ(reply.errorName(), row.errorName);
            continue;
        }
        ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
        if (!row.replyText.isEmpty()) {
            EXPECT_EQ(reply.arguments().value(0).toString(), row.replyText);
        }
    }
    EXPECT_EQ(bus.service.text(), QStringLiteral("10.1.2.3 FtpServerIsUp"));
    ASSERT_TRUE(WaitFor([&] { return !listener.seen.isEmpty(); }));
    const QStringList change = {"PellmarDDETopic", "PellmarDDEItem", "10.1.2.3 FtpServerIsUp"};
    EXPECT_EQ(listener.seen, QList<QStringList>{change});
}

// The commands the README gives for scripts.
TEST(DdeService, GdbusQueriesAndPokes) {
    BusFixture bus;
    ASSERT_TRUE(bus.registered) << "no session bus: run under dbus-run-session";
    auto gdbus = [&](const QString& method, const QStringList& args) {
        QProcess process;
        process.start(QStringLiteral("gdbus"),
                      QStringList{"call", "--session", "--dest", bus.busName, "--object-path",
                                  "/dde", "--method", kInterface + "." + method} +
                          args);
        // The item answers from this thread's event loop while gdbus waits.
        WaitFor([&] { return process.state() == QProcess::NotRunning; });
        return process.readAllStandardOutput() + process.readAllStandardError();
    };
    EXPECT_EQ(gdbus("Request", {"PellmarDDETopic", "PellmarDDEItem"}),
              "('127.0.0.1 FtpServerIsDown',)\n");
    EXPECT_EQ(gdbus("Poke", {"PellmarDDETopic", "PellmarDDEItem", "192.168.0.9 FtpServerIsUp"}),
              "()\n");
    EXPECT_EQ(gdbus("Request", {"pellmarddetopic", "PellmarDDEItem"}),
              "('192.168.0.9 FtpServerIsUp',)\n");
    EXPECT_EQ(bus.service.text(), QStringLiteral("192.168.0.9 FtpServerIsUp"));
}

#include "DdeServiceTest.moc"
