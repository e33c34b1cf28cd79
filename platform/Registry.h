#pragma once

#include <QString>

// The current user's registry, as far as the program uses it: named text values under
// keys written with backslashes ("Software\Pellmar\Version"). Keys are created on write.
class IRegistry {
public:
    virtual ~IRegistry() = default;
    virtual void setValue(const QString& key, const QString& name, const QString& value) = 0;
    virtual QString value(const QString& key, const QString& name) const = 0;
};

// The registry stand-in on Linux: an INI store in the user's configuration folder
// ($XDG_CONFIG_HOME/Pellmar/registry.ini), or the file named by PELLMAR_REGISTRY.
class IniRegistry : public IRegistry {
public:
    IniRegistry();
    explicit IniRegistry(const QString& filePath);
    void setValue(const QString& key, const QString& name, const QString& value) override;
    QString value(const QString& key, const QString& name) const override;
    QString filePath() const { return m_filePath; }

private:
    QString m_filePath;
};
