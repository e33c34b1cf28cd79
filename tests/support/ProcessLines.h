#pragma once

#include <QProcess>

// The next output line of a running process, waiting up to ten seconds for it.
inline QByteArray nextLine(QProcess& process) {
    for (int i = 0; i < 100 && !process.canReadLine(); ++i)
        process.waitForReadyRead(100);
    return process.readLine().trimmed();
}
