// Arbitrary bytes as the data file: loading either succeeds or raises one of the
// program's errors, and splitting and de-scrambling never fail.
#include "core/DataFileConfig.h"
#include "core/TextHelpers.h"
#include "platform/Errors.h"

#include <QFile>
#include <QTemporaryDir>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static QTemporaryDir dir;
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    for (const QByteArray& line : SplitLines(bytes)) {
        if (line.contains('\r') || line.contains('\n') || line.contains('\0'))
            std::abort();
        if (ScrambleText(DescrambleText(line)) != line)
            std::abort();
    }
    const QString path = dir.filePath(QStringLiteral("Pellmar.dat"));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            std::abort();
        file.write(bytes);
    }
    DataFileConfig config;
    try {
        config.load(path);
    } catch (const PellmarError&) {
    }
    return 0;
}
