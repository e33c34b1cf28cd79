#include "cli/Commands.h"
#include "net/HttpCli.h"
#include "platform/Cp1252.h"
#include "platform/Errors.h"

#include <QEventLoop>
#include <QFile>
#include <cstdio>
#include <cstring>

// pellmar-cli get URL [-o FILE] [--proxy HOST[:PORT]]: fetches one URL with the program's
// own HTTP client. The body goes to FILE or standard output, the status code and reason
// to standard error. Exit code 0 for a status below 400 whose transfer completed, 1
// otherwise (no status at all, a body cut short, a failed write), 2 for wrong arguments.

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

// Collects the client's 8 KiB chunks into larger blocks before they go to the file, so
// that a fast download is not held up by one write call per chunk.
class BlockWriter : public QIODevice {
public:
    static constexpr qsizetype kBlockSize = 256 * 1024;

    explicit BlockWriter(QFile& file) : m_file(file) {
        m_block.resize(kBlockSize);
        open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    }
    ~BlockWriter() override { Flush(); }

    // False when the file refused bytes.
    bool Flush() {
        if (m_fill > 0 && m_file.write(m_block.constData(), m_fill) != m_fill) {
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
            const qint64 written = m_file.write(data, length);
            if (written != length)
                setErrorString(m_file.errorString());
            return written;
        }
        std::memcpy(m_block.data() + m_fill, data, size_t(length));
        m_fill += length;
        return length;
    }

private:
    QFile& m_file;
    QByteArray m_block;
    qsizetype m_fill = 0;
    bool m_failed = false;
};

int Fail(const QString& message) {
    std::fprintf(stderr, "pellmar-cli get: %s\n", qPrintable(message));
    return 1;
}

} // namespace

int runGetCommand(const QStringList& args) {
    GetOptions options;
    if (!ParseOptions(args, options)) {
        std::fputs("usage: pellmar-cli get URL [-o FILE] [--proxy HOST[:PORT]]\n", stderr);
        return 2;
    }
    QFile target;
    const bool opened =
        options.output.isEmpty()
            ? target.open(1, QIODevice::WriteOnly | QIODevice::Unbuffered)
            : (target.setFileName(options.output),
               target.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered));
    if (!opened)
        return Fail(QStringLiteral("cannot write %1").arg(options.output));

    BlockWriter writer(target);
    THttpCli client;
    client.SetURL(options.url);
    client.SetProxy(options.proxy);
    client.SetReceiveStream(&writer);
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

    std::fprintf(stderr, "%d %s\n", client.StatusCode(), client.ReasonPhrase().constData());
    if (!writer.Flush() || target.error() != QFileDevice::NoError)
        return Fail(
            QStringLiteral("cannot write %1: %2").arg(options.output, target.errorString()));
    const bool completed = client.RequestError() == 0;
    return completed && client.StatusCode() > 0 && client.StatusCode() < 400 ? 0 : 1;
}
