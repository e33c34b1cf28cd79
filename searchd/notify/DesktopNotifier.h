#pragma once

#include <QString>
#include <QStringList>
#include <mutex>

// Tells the user's desktop through the freedesktop notification service
// (org.freedesktop.Notifications on the session bus, the bus of the user's own service
// manager). Without a session bus, or without a notification service on it, nothing is
// shown: the first failure is said once on standard error, later ones not. Safe from any
// thread; one notification at a time.
class DesktopNotifier {
public:
    // Off: notify() does nothing.
    explicit DesktopNotifier(bool enabled);

    // Shows summary with body (plain text: escaped here, since servers may read markup in
    // it). False when nothing could be shown.
    bool notify(const QString& summary, const QString& body);

    // "Pellmar: 3 new files for "miles davis"".
    static QString summaryFor(const QString& words, int newFiles);
    // The first few names, one a line, and how many more there are.
    static QString bodyFor(const QStringList& names);

    static constexpr int kNamesShown = 5;

private:
    void sayOnce(const QString& problem);

    bool m_enabled;
    bool m_said = false;
    std::mutex m_mutex;
};
