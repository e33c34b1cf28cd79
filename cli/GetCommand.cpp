#include "cli/Commands.h"
#include "cli/TerminalText.h"
#include "net/HttpCli.h"
#include "platform/Cp1252.h"
#include "platform/Errors.h"

#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>

// pellmar-cli get URL [-o FILE] [--proxy HOST[:PORT]]: fetches one URL with the program's
// own HTTP client. The body goes to FILE or standard output, the status code and reason
// to standard error. Exit code 0 for a status below 400 whose transfer completed, 1
// otherwise (no status at all, a body cut short, a failed write), 2 for wrong arguments.
// FILE is written under a temporary name beside it and replaces it only when the transfer
// succeeded, so a failed one leaves the user's file as it was.

namespace {

struct GetOptions {
    QByteArray url;
    QString output;
    QByteArray proxy;
};

bool ParseOptions(const QStringList& args, GetOptions& options) {
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        if ((arg == QLatin1String("-o") || arg == QLatin1String("--proxy")) &&
            i + 1 < args.size()) {
            if (arg == QLatin1String("-o"))
                options.output = args[++i];
            else
                options.proxy = Cp1252::fromUnicode(args[++i]);
        } else if (options.url.isEmpty() && !arg.startsWith(QLatin1Char('-'))) {
            options.url = Cp1252::fromUnicode(arg);
        } else {
            return false;
        }
    }
    return !options.url.isEmpty();
}

// Writes everything or fails with the system's reason: after a short write (the disk
// filled up part-way) the next write tells why. The bytes of a regular file start on their
// way to the disk at once: the flush when the file is committed then waits for the last
// blocks only, not for the whole download.
bool WriteAll(QFileDevice& file, const char* data, qint64 length) {
    const qint64 start = file.pos();
    const qint64 whole = length;
    while (length > 0) {
        const qint64 written = file.write(data, length);
        if (written <= 0)
            return false;
        data += written;
        length -= written;
    }
    if (file.handle() >= 0 && start >= 0)
        ::sync_file_range(file.handle(), start, whole, SYNC_FILE_RANGE_WRITE);
    return true;
}

// Collects the client's 8 KiB chunks into larger blocks before they go to the file, so
// that a fast download is not held up by one write call per chunk.
class BlockWriter : public QIODevice {
public:
    static constexpr qsizetype kBlockSize = 256 * 1024;

    explicit BlockWriter(QFileDevice& file) : m_file(file) {
        m_block.resize(kBlockSize);
        open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    }
    ~BlockWriter() override { Flush(); }

    // False when the file refused bytes.
    bool Flush() {
        if (m_fill > 0 && !WriteAll(m_file, m_block.constData(), m_fill)) {
            m_failed = true;
            setErrorString(m_file.errorString());
        }
        m_fill = 0;
        return !m_failed;
    }

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char* data, qint64 length) override {
        if (m_fill + length > kBlockSize && !Flush())
            return -1;
        if (length >= kBlockSize) {
            if (WriteAll(m_file, data, length))
                return length;
            setErrorString(m_file.errorString());
            return -1;
        }
        std::memcpy(m_block.data() + m_fill, data, size_t(length));
        m_fill += length;
        return length;
    }

private:
    QFileDevice& m_file;
    QByteArray m_block;
    qsizetype m_fill = 0;
    bool m_failed = false;
};

// A reason phrase in UTF-8 when it is valid UTF-8, else in Latin-1 as HTTP had it.
QString reasonText(const QByteArray& phrase) {
    return QUtf8StringView(phrase).isValidUtf8() ? QString::fromUtf8(phrase)
                                                 : QString::fromLatin1(phrase);
}

int Fail(const QString& message) {
    std::fprintf(stderr, "pellmar-cli get: %s\n", qPrintable(message));
    return 1;
}

// Standard output, /dev/null, or a new version of the named file that replaces it on
// commit. Anything else that is not a regular file (a device, a pipe, a folder) is refused
// before a request goes out; a symbolic link is written through, never replaced.
std::unique_ptr<QFileDevice> OpenTarget(const QString& path, QString& problem) {
    const QFileInfo info(path);
    if (path.isEmpty() || (info.exists() && !info.isFile())) {
        if (!path.isEmpty() && info.canonicalFilePath() != QLatin1String("/dev/null")) {
            problem = QStringLiteral("not a regular file");
            return nullptr;
        }
        auto stream = std::make_unique<QFile>(path);
        const bool opened = path.isEmpty()
                                ? stream->open(1, QIODevice::WriteOnly | QIODevice::Unbuffered)
                                : stream->open(QIODevice::WriteOnly | QIODevice::Unbuffered);
        if (opened)
            return stream;
        problem = stream->errorString();
        return nullptr;
    }
    auto file = std::make_unique<QSaveFile>(path);
    if (file->open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return file;
    problem = file->errorString();
    return nullptr;
}

} // namespace

int runGetCommand(const QStringList& args) {
    GetOptions options;
    if (!ParseOptions(args, options)) {
        std::fputs("usage: pellmar-cli get URL [-o FILE] [--proxy HOST[:PORT]]\n", stderr);
        return 2;
    }
    const QString targetName =
        options.output.isEmpty() ? QStringLiteral("standard output") : options.output;
    QString problem;
    const std::unique_ptr<QFileDevice> target = OpenTarget(options.output, problem);
    if (!target)
        return Fail(QStringLiteral("cannot write %1: %2").arg(targetName, problem));
    auto* newVersion = qobject_cast<QSaveFile*>(target.get());

    BlockWriter writer(*target);
    THttpCli client;
    client.SetURL(options.url);
    client.SetProxy(options.proxy);
    client.SetReceiveStream(&writer);
    // Whole blocks per read: they go to the file without a copy, and a TLS read takes
    // many records at once.
    client.SetBodyChunkSize(int(BlockWriter::kBlockSize));
    QEventLoop loop;
    client.OnRequestDone = [&](THttpCli*, THttpRequest, quint16) { loop.quit(); };
    try {
        client.GetAsync();
    } catch (const PellmarError& error) {
        client.Abort();
        loop.exec();
        return Fail(error.message());
    }
    loop.exec();

    // The reason phrase is the server's text: shown, never obeyed by the terminal.
    std::fprintf(stderr, "%d %s\n", client.StatusCode(),
                 forTerminal(reasonText(client.ReasonPhrase())).constData());
    const bool succeeded =
        client.RequestError() == 0 && client.StatusCode() > 0 && client.StatusCode() < 400;
    const bool written = writer.Flush();
    if (newVersion && !succeeded)
        newVersion->cancelWriting(); // the user's file stays as it was
    if (!written && client.RequestError() != THttpCli::kErrorWriteFailed)
        return Fail(QStringLiteral("cannot write %1: %2").arg(targetName, writer.errorString()));
    if (!succeeded || !written)
        return 1;
    if (newVersion && !newVersion->commit())
        return Fail(
            QStringLiteral("cannot write %1: %2").arg(targetName, newVersion->errorString()));
    return 0;
}
