#include "download/DownloadJob.h"

#include "download/RequestSetup.h"
#include "net/HttpCli.h"
#include "net/ResolveUrl.h"
#include "platform/Cp1252.h"
#include "platform/Errors.h"

#include <QFileInfo>
#include <QLocale>
#include <QTimer>
#include <cmath>

const QString DownloadJob::kTooSmallMessage =
    QStringLiteral("File not saved.\rSize less than 30 kb");

namespace {

// A strict decimal integer, 64 bits wide: optional leading blanks and sign, digits, nothing
// after them.
std::optional<qint64> strictInt64(const QByteArray& text) {
    qsizetype i = 0;
    while (i < text.size() && text.at(i) == ' ')
        ++i;
    bool negative = false;
    if (i < text.size() && (text.at(i) == '-' || text.at(i) == '+'))
        negative = text.at(i++) == '-';
    if (i >= text.size())
        return std::nullopt;
    qint64 value = 0;
    for (; i < text.size(); ++i) {
        const char c = text.at(i);
        if (c < '0' || c > '9' || value > (std::numeric_limits<qint64>::max() - 9) / 10)
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return negative ? -value : value;
}

// A header line's name, lower-cased; empty when the line has no colon.
QByteArray headerName(const QByteArray& line) {
    const qsizetype colon = line.indexOf(':');
    return colon < 0 ? QByteArray() : line.left(colon).trimmed().toLower();
}

QByteArray headerValue(const QByteArray& line) {
    return line.mid(line.indexOf(':') + 1).trimmed();
}

} // namespace

DownloadJob::DownloadJob(const SettingsFile& ini, QObject* parent)
    : QObject(parent), m_ini(ini), m_client(std::make_unique<THttpCli>()) {
    SetUpClient(*m_client, true);
    m_speedText = QLocale().toString(0.0, 'f', 2);
    m_timer = new QTimer(this);
    m_timer->setInterval(kTickMs);
    connect(m_timer, &QTimer::timeout, this, &DownloadJob::ProgressTick);
    m_timer->start();
}

// A file is read in chunks of 64 KiB: with the client's default of 8 KiB the kernel's
// receive window drains in small steps and a download falls well behind curl.
constexpr int kBodyChunkSize = 64 * 1024;

DownloadJob::~DownloadJob() {
    // Releasing the client closes its connection; a partial file stays on disk.
    m_client.reset();
    m_file.close();
}

void DownloadJob::SetUpClient(THttpCli& client, bool withStatusHandlers) {
    SetUpRequest(client, m_ini);
    client.SetNoCache(true);
    client.SetBodyChunkSize(kBodyChunkSize);
    if (!withStatusHandlers)
        return;
    // Only the first client reports these steps; a redirect's client keeps the status.
    client.OnRequestHeaderBegin = [this](THttpCli*) {
        SetStatus(QStringLiteral("Host contacted, waiting for reply"));
    };
    client.OnHeaderBegin = [this](THttpCli*) { SetStatus(QStringLiteral("Host Contacted")); };
    client.OnDocBegin = [this](THttpCli*) { SetStatus(QStringLiteral("Receiving data")); };
}

void DownloadJob::SetUp(const QString& path, const QByteArray& url) {
    m_targetPath = path;
    m_displayName = QFileInfo(path).completeBaseName();
    m_caption = QStringLiteral("0% ") + m_displayName;
    m_url = url;
    m_eTag.clear();
    m_lastModified.clear();
    m_client->SetURL(url);
    m_client->OnRequestDone = [this](THttpCli*, THttpRequest, quint16 error) {
        RequestDone(error);
    };
    m_client->OnHeaderData = [this](THttpCli*) { HeaderData(); };
    m_client->OnDocData = [this](THttpCli*, const char*, int) { DocData(); };

    m_file.close();
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::ReadWrite | QIODevice::Truncate)) {
        emit changed();
        throw EFOpenError(QStringLiteral("Cannot create file %1").arg(path));
    }
    m_client->SetReceiveStream(&m_file);
}

void DownloadJob::StartTransfer(const QString& path, const QByteArray& url) {
    SetUp(path, url);
    SetStatus(QStringLiteral("Contacting host"));
    StartQueued();
}

void DownloadJob::QueueTransfer(const QString& path, const QByteArray& url) {
    SetUp(path, url);
    SetStatus(QStringLiteral("File queued"));
}

void DownloadJob::StartQueued() {
    if (!m_client)
        return;
    try {
        m_client->GetAsync();
    } catch (const PellmarError&) {
        // A URL the client cannot use (no host, a lookup that cannot start) ends like a
        // failed connection: nothing received.
        m_client->Abort();
    }
}

void DownloadJob::SetStatus(const QString& text) {
    m_status = text;
    emit changed();
}

void DownloadJob::HeaderData() {
    if (m_stopped)
        return; // a broken link wins over what follows in the same reply
    const QByteArray line = m_client->CurrentLine();
    const QByteArray name = headerName(line);
    if (name == "location") {
        Redirect(headerValue(line));
        return;
    }
    if (line.contains("text/html")) {
        BrokenLink();
        return;
    }
    if (line.toLower().contains("content-length"))
        ContentLengthLine(line);
    RememberResumeHeader(line);
}

void DownloadJob::ContentLengthLine(const QByteArray& line) {
    // The value starts two characters after the colon ("Content-Length: 4000000").
    const QByteArray value = line.mid(line.indexOf(':') + 2);
    const std::optional<qint64> length = strictInt64(value);
    if (!length) {
        m_lengthKnown = false;
        return;
    }
    m_announcedLength = *length;
    m_fileLengthText = QString::fromLatin1(value);
    m_lengthKnown = true;
    emit changed();
}

void DownloadJob::RememberResumeHeader(const QByteArray& line) {
    const QByteArray name = headerName(line);
    if (name == "etag")
        m_eTag = headerValue(line);
    else if (name == "last-modified")
        m_lastModified = headerValue(line);
}

void DownloadJob::BrokenLink() {
    m_status = QStringLiteral("Sorry, link broken.");
    m_lengthKnown = false;
    m_stopped = true;
    m_okVisible = true;
    m_file.close();
    m_client->SetReceiveStream(nullptr);
    m_client->Abort();
    DeleteTarget();
    m_outcome = Outcome::Broken;
    emit changed();
    emit ended();
}

void DownloadJob::DropClient() {
    // The client is inside one of its events: it must not call us again and may only be
    // released after that event has returned.
    THttpCli* old = m_client.release();
    old->SetReceiveStream(nullptr);
    old->OnRequestDone = nullptr;
    old->OnHeaderData = nullptr;
    old->OnDocData = nullptr;
    old->OnRequestHeaderBegin = nullptr;
    old->OnHeaderBegin = nullptr;
    old->OnDocBegin = nullptr;
    old->Abort();
    QTimer::singleShot(0, [old] { delete old; });
}

void DownloadJob::Redirect(const QByteArray& location) {
    m_file.close();
    const QByteArray next = ResolveUrl(m_url, location);
    DropClient();
    // The target starts anew by being emptied in place, not deleted and made again: between
    // the two, another process could put a file or a link of its own under that name.
    m_client = std::make_unique<THttpCli>();
    SetUpClient(*m_client, false);
    if (++m_redirects > kMaxRedirects) {
        // A server that keeps sending us elsewhere ends like one that sent nothing.
        QTimer::singleShot(0, this, [this] { RequestDone(0); });
        return;
    }
    try {
        StartTransfer(m_targetPath, next);
    } catch (const PellmarError& error) {
        // Shown from the event loop: a message box's own loop must not run while the old
        // client is still inside its event.
        const QString text = error.message();
        QTimer::singleShot(0, this, [this, text] { emit message(text); });
    }
}

void DownloadJob::DocData() {
    m_bytesReceived = m_client->ReceivedCount();
    if (m_lengthKnown && m_announcedLength != 0) {
        const double exact = double(m_bytesReceived) * 100.0 / double(m_announcedLength);
        m_percent = int(std::nearbyint(exact)); // halves to even
        m_caption = QString::number(m_percent) + QStringLiteral("% ") + m_displayName;
    }
    emit progressed();
}

void DownloadJob::RequestDone(quint16 error) {
    if (m_stopped)
        return;
    const qint64 received = m_client ? m_client->ReceivedCount() : 0;
    m_bytesReceived = received;
    if (received < kMinimumSize) {
        m_file.close();
        DeleteTarget();
        m_outcome = Outcome::TooSmall;
        emit changed();
        emit message(kTooSmallMessage);
        emit ended();
        return;
    }
    m_file.close();
    // The client fails a body cut short of its Content-Length and a refused write; a file
    // that did not take every byte is not complete either.
    const bool writeFailed =
        m_file.error() != QFileDevice::NoError || QFileInfo(m_targetPath).size() != received;
    if (error != 0 || writeFailed) {
        // The partial file stays for a later resume; the window waits for the user.
        m_outcome = Outcome::Incomplete;
        SetStatus(QStringLiteral("Download incomplete"));
        emit ended();
        return;
    }
    m_outcome = Outcome::Complete;
    m_finished = true;
    emit changed();
    emit ended();
}

void DownloadJob::DeleteTarget() {
    if (!m_targetPath.isEmpty())
        QFile::remove(m_targetPath);
}

void DownloadJob::UserStop() {
    m_finished = true;
    m_file.close();
    m_client.reset();
    if (m_outcome == Outcome::Pending)
        m_outcome = Outcome::Stopped;
    emit changed();
}

void DownloadJob::CloseRequest() {
    m_stopped = true;
    m_finished = true;
    if (m_outcome == Outcome::Pending)
        m_outcome = Outcome::Stopped;
    emit changed();
}

void DownloadJob::ProgressTick() {
    ++m_tickCount;
    // The elapsed time is the number of ticks times the timer's three seconds.
    m_speed = double(m_bytesReceived) / (3.0 * m_tickCount) / 1024.0;
    m_speedText = QLocale().toString(m_speed, 'f', 2);
    if (m_announcedLength != 0 && m_speed != 0) {
        const double seconds = double(m_announcedLength - m_bytesReceived) / (m_speed * 1000.0);
        const qint64 total = qint64(std::nearbyint(seconds));
        if (total < 0) {
            m_timeLeftText.clear(); // more arrived than announced
        } else if (total / 3600 < 24) {
            m_timeLeftText = QStringLiteral("%1:%2:%3")
                                 .arg(total / 3600, 2, 10, QLatin1Char('0'))
                                 .arg(total / 60 % 60, 2, 10, QLatin1Char('0'))
                                 .arg(total % 60, 2, 10, QLatin1Char('0'));
        } // a day or more keeps the last text
    }
    emit changed();
}

DownloadJob::ResumeInfo DownloadJob::resumeInfo() const {
    const QFileInfo target(m_targetPath);
    return {m_url, m_targetPath, target.exists() ? target.size() : 0, m_eTag, m_lastModified};
}
