#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>

// The program's INI settings file. Nothing is cached: every read goes to the file and
// every write goes through to it at once, replacing the file whole (a crash mid-write
// leaves the old or the new file, never a torn one). Section and key names match without
// regard to case; a missing file, section or key reads as the default the caller gives.
class SettingsFile {
public:
    static constexpr int kMaxValueLength = 2047;

    explicit SettingsFile(const QString& fileName);

    QString fileName() const { return m_fileName; }

    // Text, cut to 2047 characters.
    QString readString(const QString& section, const QString& key,
                       const QString& defaultValue) const;
    // Lenient: "0x1E" reads as 30; text that is not an integer yields the default.
    int readInteger(const QString& section, const QString& key, int defaultValue) const;
    // A flag is an integer, non-zero meaning on; "True" is not an integer and reads as
    // the default.
    bool readBool(const QString& section, const QString& key, bool defaultValue) const;

    // Writes throw EIniFileException("Unable to write to <file>") when refused, and when
    // the existing file cannot be read (the file is then left as it is).
    void writeString(const QString& section, const QString& key, const QString& value);
    void writeInteger(const QString& section, const QString& key, int value);
    void writeBool(const QString& section, const QString& key, bool value);

private:
    // The file's lines; none for a missing file, nothing when it exists but cannot be read.
    std::optional<QList<QByteArray>> loadLines() const;
    [[noreturn]] void refuseWrite() const;
    void saveLines(const QList<QByteArray>& lines);

    QString m_fileName;
};
