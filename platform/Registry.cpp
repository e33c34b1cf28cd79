#include "platform/Registry.h"

#include <QSettings>
#include <QStandardPaths>

namespace {

QString defaultRegistryPath() {
    const QByteArray over = qgetenv("PELLMAR_REGISTRY");
    if (!over.isEmpty())
        return QString::fromLocal8Bit(over);
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Pellmar/registry.ini");
}

// QSettings treats '/' as the group separator; registry keys use '\'.
QString settingsKey(const QString& key, const QString& name) {
    QString group = key;
    group.replace(QLatin1Char('\\'), QLatin1Char('/'));
    while (group.startsWith(QLatin1Char('/')))
        group.remove(0, 1);
    return group + QLatin1Char('/') + name;
}

} // namespace

IniRegistry::IniRegistry() : m_filePath(defaultRegistryPath()) {}

IniRegistry::IniRegistry(const QString& filePath) : m_filePath(filePath) {}

void IniRegistry::setValue(const QString& key, const QString& name, const QString& value) {
    QSettings store(m_filePath, QSettings::IniFormat);
    store.setValue(settingsKey(key, name), value);
}

QString IniRegistry::value(const QString& key, const QString& name) const {
    QSettings store(m_filePath, QSettings::IniFormat);
    return store.value(settingsKey(key, name)).toString();
}
