#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

// A fresh program folder for one test, set as PELLMAR_HOME while the object lives.
class TempHome {
public:
    TempHome()
        : m_old(qgetenv("PELLMAR_HOME")), m_hadOld(qEnvironmentVariableIsSet("PELLMAR_HOME")) {
        qputenv("PELLMAR_HOME", m_dir.path().toLocal8Bit());
        QDir(m_dir.path()).mkdir(QStringLiteral("temp"));
    }
    ~TempHome() {
        if (m_hadOld)
            qputenv("PELLMAR_HOME", m_old);
        else
            qunsetenv("PELLMAR_HOME");
    }
    TempHome(const TempHome&) = delete;
    TempHome& operator=(const TempHome&) = delete;

    QString path() const { return m_dir.path(); }
    QString file(const QString& name) const { return m_dir.filePath(name); }

    void write(const QString& name, const QByteArray& content) const {
        QFile file(m_dir.filePath(name));
        if (file.open(QIODevice::WriteOnly))
            file.write(content);
    }
    QByteArray read(const QString& name) const {
        QFile file(m_dir.filePath(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

private:
    QTemporaryDir m_dir;
    QByteArray m_old;
    bool m_hadOld;
};
