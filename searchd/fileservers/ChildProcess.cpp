#include "searchd/fileservers/ChildProcess.h"

#include "platform/LoopbackPorts.h"

#include "searchd/ServiceError.h"

#include <QFile>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

int millisecondsLeft(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Runs in the forked child: only calls that are safe between fork and exec.
[[noreturn]] void execChild(const char* program, char* const argv[], int logFd, int stdoutFd,
                            pid_t parent) {
    setpgid(0, 0);
    // The kernel sends SIGTERM when the thread that forked (the main one) ends; the check
    // after it catches a service that ended before the request was in place.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent)
        _exit(1);
    // The service blocks SIGINT and SIGTERM for its own handling; a server needs them.
    sigset_t none;
    sigemptyset(&none);
    pthread_sigmask(SIG_SETMASK, &none, nullptr);
    for (int signal : {SIGINT, SIGTERM, SIGPIPE, SIGHUP})
        ::signal(signal, SIG_DFL);
    const int null = ::open("/dev/null", O_RDONLY);
    dup2(null, STDIN_FILENO);
    dup2(stdoutFd >= 0 ? stdoutFd : logFd, STDOUT_FILENO);
    dup2(logFd, STDERR_FILENO);
    close_range(3, ~0U, 0); // no socket or database of the service leaks into the server
    execv(program, argv);
    // strerror may take the locale's lock, which another thread of the service may have held
    // at the fork; the untranslated text takes none.
    const char* reason = strerrordesc_np(errno);
    (void)!::write(STDERR_FILENO, "cannot run the program: ", 24);
    (void)!::write(STDERR_FILENO, reason, std::strlen(reason));
    (void)!::write(STDERR_FILENO, "\n", 1);
    _exit(127);
}

} // namespace

ChildProcess::ChildProcess(const QString& program, const QStringList& args, const QString& logFile,
                           bool pipeStdout)
    : m_logFile(logFile) {
    // Everything the child needs is prepared before the fork.
    std::vector<QByteArray> words{program.toLocal8Bit()};
    for (const QString& arg : args)
        words.push_back(arg.toLocal8Bit());
    std::vector<char*> argv;
    argv.reserve(words.size() + 1);
    for (QByteArray& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    const int logFd =
        ::open(logFile.toLocal8Bit().constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (logFd < 0)
        throw ServiceError(
            QStringLiteral("cannot write %1: %2").arg(logFile, qt_error_string(errno)));
    int pipeFds[2] = {-1, -1};
    if (pipeStdout && ::pipe2(pipeFds, O_CLOEXEC) != 0) {
        ::close(logFd);
        throw ServiceError(QStringLiteral("cannot make a pipe"));
    }
    const pid_t parent = getpid();
    m_pid = fork();
    if (m_pid == 0)
        execChild(argv[0], argv.data(), logFd, pipeFds[1], parent);
    ::close(logFd);
    if (pipeStdout)
        ::close(pipeFds[1]);
    m_stdout = pipeFds[0];
    if (m_pid < 0) {
        if (m_stdout >= 0)
            ::close(m_stdout);
        throw ServiceError(QStringLiteral("cannot start %1").arg(program));
    }
}

ChildProcess::~ChildProcess() {
    stop();
    if (m_stdout >= 0)
        ::close(m_stdout);
}

bool ChildProcess::isRunning() {
    if (m_reaped)
        return false;
    int status = 0;
    if (waitpid(m_pid, &status, WNOHANG) == m_pid)
        m_reaped = true;
    return !m_reaped;
}

QByteArray ChildProcess::readLine(int timeoutMs) {
    QByteArray line;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    pollfd wanted{m_stdout, POLLIN, 0};
    while (m_stdout >= 0) {
        const int ready = poll(&wanted, 1, millisecondsLeft(deadline));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return {};
        char c = 0;
        if (::read(m_stdout, &c, 1) != 1)
            return {};
        if (c == '\n')
            return line;
        line.append(c);
    }
    return {};
}

bool ChildProcess::waitUntilListening(unsigned short port, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (isRunning()) {
        if (AcceptsConnections(port))
            return true;
        if (Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50)); // no event tells of a listener
    }
    return false;
}

void ChildProcess::waitForExit(int timeoutMs) const {
    const int fd = static_cast<int>(syscall(SYS_pidfd_open, m_pid, 0));
    if (fd < 0)
        return;
    pollfd ended{fd, POLLIN, 0}; // readable once the child has ended, before it is reaped
    while (poll(&ended, 1, timeoutMs) < 0 && errno == EINTR) {
    }
    ::close(fd);
}

void ChildProcess::stop() {
    if (m_pid <= 0 || m_reaped)
        return;
    ::kill(m_pid, SIGTERM);
    waitForExit(5000);
    // Whatever the server started and left behind goes with its group, while the ended
    // child still holds the group's id.
    ::kill(-m_pid, SIGKILL);
    int status = 0;
    waitpid(m_pid, &status, 0);
    m_reaped = true;
}

QString ChildProcess::lastLogLine() const {
    QFile log(m_logFile);
    if (!log.open(QIODevice::ReadOnly))
        return {};
    const QList<QByteArray> lines = log.readAll().trimmed().split('\n');
    return QString::fromLocal8Bit(lines.last().trimmed());
}
