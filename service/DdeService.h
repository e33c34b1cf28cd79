#pragma once

#include <QDBusContext>
#include <QObject>
#include <QString>

class QDBusConnection;

// The program's one shared data item on the session bus, for scripts and other programs:
// they read it, replace it and are told of each change. The bus name is "net.pellmar."
// with the executable's name, the object "/dde", the interface "net.pellmar.Dde" with
// Request(topic, item), Poke(topic, item, text) and the signal Changed(topic, item, text).
// The topic is compared without regard to case, the item exactly.
class DdeService : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "net.pellmar.Dde")

public:
    static constexpr char kTopic[] = "PellmarDDETopic";
    static constexpr char kItem[] = "PellmarDDEItem";
    static constexpr char kObjectPath[] = "/dde";
    static constexpr char kInitialText[] = "127.0.0.1 FtpServerIsDown";

    explicit DdeService(QObject* parent = nullptr);

    // "net.pellmar." + the executable's file name up to its first "."; characters a bus
    // name cannot hold become "_", and a name part cannot start with a digit.
    static QString busNameFor(const QString& executablePath);

    // Offers the item on the bus under busName. False when there is no bus or the name is
    // taken (a second instance): the program runs on without the item.
    bool registerOn(QDBusConnection& bus, const QString& busName);

    QString text() const { return m_text; }

public slots:
    Q_SCRIPTABLE QString Request(const QString& topic, const QString& item);
    Q_SCRIPTABLE void Poke(const QString& topic, const QString& item, const QString& text);

signals:
    Q_SCRIPTABLE void Changed(const QString& topic, const QString& item, const QString& text);

private:
    bool isOurItem(const QString& topic, const QString& item);
    void PellmarDDEItemPokeData() {}

    QString m_text = QString::fromLatin1(kInitialText);
};
