// Arbitrary bytes as the settings file: reads never fail, a write keeps every other key
// readable as before, and the value written reads back.
#include "platform/SettingsFile.h"

#include <QFile>
#include <QTemporaryDir>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Pellmar.ini"));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            std::abort();
        file.write(reinterpret_cast<const char*>(data), qsizetype(size));
    }
    SettingsFile ini(path);
    const QString section = QStringLiteral("Options");
    const int before = ini.readInteger(QStringLiteral("WinPos"), QStringLiteral("Left"), -7);
    ini.readBool(section, QStringLiteral("NeedStereo"), true);
    if (ini.readString(section, QStringLiteral("FtpPath"), QString()).size() > 2047)
        std::abort();

    ini.writeString(section, QStringLiteral("TimeLimit"), QStringLiteral("60"));
    if (ini.readInteger(section, QStringLiteral("TimeLimit"), 180) != 60)
        std::abort();
    if (ini.readInteger(QStringLiteral("WinPos"), QStringLiteral("Left"), -7) != before)
        std::abort();
    return 0;
}
