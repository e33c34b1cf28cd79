#pragma once

#include <QString>
#include <QStringList>
#include <sys/types.h>

// A server program the service runs beside itself. The child gets a process group of its
// own, its standard error (and standard output, unless a pipe is asked for) goes to a log
// file, and it is sent SIGTERM by the kernel when the service dies, so that no server
// outlives the service, however the service ends.
class ChildProcess {
public:
    // Starts program with args. Throws ServiceError when it cannot be started; when the
    // program itself fails, it ends and says why in the log.
    ChildProcess(const QString& program, const QStringList& args, const QString& logFile,
                 bool pipeStdout = false);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return m_pid; }
    bool isRunning();

    // The first line the child writes to its standard output, without the line end; empty
    // when it ends or stays silent for timeoutMs.
    QByteArray readLine(int timeoutMs);

    // Waits until something accepts connections on 127.0.0.1:port; false when the child
    // ends first or timeoutMs pass.
    bool waitUntilListening(unsigned short port, int timeoutMs);

    // SIGTERM, up to five seconds for the child to end, then SIGKILL for its whole group.
    // The child is reaped.
    void stop();

    // The last non-empty line of the log, to tell why a child ended.
    QString lastLogLine() const;

private:
    void waitForExit(int timeoutMs) const;

    QString m_logFile;
    pid_t m_pid = -1;
    int m_stdout = -1; // read end of the child's standard output, if piped
    bool m_reaped = false;
};
