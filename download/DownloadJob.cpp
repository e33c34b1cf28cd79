#include "download/DownloadJob.h"

#include "net/HttpCli.h"
#include "net/HttpReply.h"
#include "net/RequestSetup.h"
#include "net/ResolveUrl.h"
#include "platform/Cp1252.h"
#include "platform/Errors.h"

#include <QFileInfo>
#include <QLocale>
#include <QTimer>
#include <cmath>
#include <sys/stat.h>

const QString DownloadJob::kTooSmallMessage =
    QStringLiteral("File not saved.\rSize less than 30 kb");

namespace {

bool isSuccess(int status) {
    return status >= 200 && status <= 299;
}

// An error answer that no retry will change (404, 410, 501 ...).
bool isFinalError(int status) {
    return status >= 400 && !RetryPolicy::isPassingStatus(status);
}

// Tries that never reach a host before the job gives up: one more try at once covers a
// server that is just restarting, and a dead host is reported without a minute of waits.
constexpr int kDeadHostTries = 2;

} // namespace

DownloadJob::DownloadJob(const SettingsFile& ini, QObject* parent)
    : QObject(parent), m_ini(ini), m_client(std::make_unique<THttpCli>()) {
    SetUpClient(*m_client, true);
    m_speedText = QLocale().toString(0.0, 'f', 2);
    SetTimerFactory(&JobTimer::createQt);
}

// A file is read in chunks of 64 KiB: with the client's default of 8 KiB the kernel's
// receive window drains in small steps and a download falls well behind curl.
constexpr int kBodyChunkSize = 64 * 1024;

DownloadJob::~DownloadJob() {
    // Releasing the client closes its connection; a partial file stays on disk.
    m_client.reset();
    m_file.close();
}

void DownloadJob::SetTimerFactory(const JobTimer::Factory& factory) {
    m_waitTimer = factory();
    m_waitTimer->onTimeout = [this] { WaitTick(); };
    m_stallTimer = factory();
    m_stallTimer->onTimeout = [this] { Stalled(); };
    // The progress tick runs from the job's creation on, every kTickMs.
    m_tickTimer = factory();
    m_tickTimer->onTimeout = [this] {
        m_tickTimer->start(kTickMs);
        ProgressTick();
    };
    m_tickTimer->start(kTickMs);
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

void DownloadJob::HookClient() {
    m_client->SetURL(m_url);
    m_client->OnSessionConnected = [this](THttpCli*) {
        m_connected = true;
        m_hostAnswered = true;
    };
    m_client->OnRequestDone = [this](THttpCli*, THttpRequest, quint16 error) {
        RequestDone(error);
    };
    m_client->OnHeaderData = [this](THttpCli*) { HeaderData(); };
    m_client->OnHeaderEnd = [this](THttpCli*) { HeaderEnd(); };
    m_client->OnDocData = [this](THttpCli*, const char* data, int length) {
        DocData(data, length);
    };
}

void DownloadJob::SetUp(const QString& path, const QByteArray& url, TargetMode mode) {
    m_targetPath = path;
    m_displayName = QFileInfo(path).completeBaseName();
    m_caption = QStringLiteral("0% ") + m_displayName;
    m_url = url;
    m_eTag.clear();
    m_lastModified.clear();
    m_policy = RetryPolicy::fromOptions(m_ini);
    m_retries = 0;
    m_fruitlessTries = 0;
    m_deadTries = 0;
    m_hostAnswered = false;
    m_wholeNext = false;
    m_untied = false;
    m_createdFile = false;
    m_writeError.clear();
    m_targetFailed = false;
    HookClient();
    OpenTarget();
    if (mode == TargetMode::Reserved && m_file.size() == 0)
        m_createdFile = true;
    m_resumedExisting = !m_createdFile && mode == TargetMode::Resume && m_file.size() > 0;
    // The user's file stays as it is until a reply has been judged to be the file.
    m_replacePending = !m_createdFile && mode != TargetMode::Resume;
    m_bytesReceived = BytesOnDisk();
}

// Opens the target without emptying it: a missing file is created (and is then the job's
// own, which it may delete again); an existing one must be a regular file. A device, a
// FIFO or a folder is refused before anything is sent or written.
void DownloadJob::OpenTarget() {
    m_file.close();
    m_file.setFileName(m_targetPath);
    constexpr auto kMode = QIODevice::ReadWrite | QIODevice::Unbuffered;
    if (m_file.open(kMode | QIODevice::NewOnly)) {
        m_createdFile = true;
        return;
    }
    const QFileInfo existing(m_targetPath);
    const bool special = existing.exists() && !existing.isFile();
    struct stat opened {};
    if (special || !m_file.open(kMode | QIODevice::ExistingOnly) ||
        fstat(m_file.handle(), &opened) != 0 || !S_ISREG(opened.st_mode)) {
        m_file.close();
        emit changed();
        const QString text = QStringLiteral("Cannot create file %1").arg(m_targetPath);
        throw EFOpenError(special ? text + QStringLiteral(": not a regular file") : text);
    }
}

// The bytes on disk that belong to this download: none of a file still waiting to be
// replaced.
qint64 DownloadJob::BytesOnDisk() const {
    return m_replacePending ? 0 : m_file.size();
}

void DownloadJob::StartTransfer(const QString& path, const QByteArray& url, TargetMode mode) {
    SetUp(path, url, mode);
    SetStatus(QStringLiteral("Contacting host"));
    StartQueued();
}

void DownloadJob::QueueTransfer(const QString& path, const QByteArray& url, TargetMode mode) {
    SetUp(path, url, mode);
    SetStatus(QStringLiteral("File queued"));
}

void DownloadJob::StartQueued() {
    if (!m_client || m_waitTimer->isActive())
        return;
    BeginTry();
}

// One request: the whole file, or the rest of what is on disk.
void DownloadJob::BeginTry() {
    m_headerEnded = false;
    m_rejected = false;
    m_stalled = false;
    m_connected = false;
    m_takeBody = false;
    m_tryBytes = 0;
    AskForRest();
    if (m_asked.from == 0 && m_retries > 0) {
        // Whatever an earlier reply announced does not bind this one.
        m_lengthKnown = false;
        m_announcedLength = 0;
        m_fileLengthText.clear();
    }
    // The job writes the body itself, so that a refused write is seen with its reason.
    m_client->SetReceiveStream(nullptr);
    ArmStallWatch();
    m_wireCountAtArm = 0; // the new request counts from nothing
    try {
        m_client->GetAsync();
    } catch (const PellmarError&) {
        // A URL the client cannot use (no host, a lookup that cannot start) ends like a
        // failed connection: nothing received.
        m_client->Abort();
    }
}

// Sets the range of the next request from the file on disk. Without a validator that
// If-Range may carry (a weak ETag is none), or with a server whose partial replies came
// without it, the last bytes on disk are asked for again and must match before anything
// is appended.
void DownloadJob::AskForRest() {
    const qint64 onDisk = BytesOnDisk();
    m_asked = RangeReply::Asked{};
    m_overlap.clear();
    m_overlapSeen = 0;
    if (onDisk > 0 && !m_wholeNext) {
        m_asked.total = m_lengthKnown ? m_announcedLength : -1;
        m_asked.eTag = m_eTag;
        m_asked.from = onDisk;
        if (!m_untied)
            m_asked.ifRange = RangeReply::ifRangeValidator(m_eTag, m_lastModified);
        if (m_asked.ifRange.isEmpty()) {
            m_asked.from = onDisk - std::min(onDisk, kOverlapBytes);
            m_file.seek(m_asked.from);
            m_overlap = m_file.read(onDisk - m_asked.from);
        }
    }
    m_file.seek(m_asked.from);
    m_client->SetExtraHeaders(RangeReply::requestHeaders(m_asked.from, m_asked.ifRange));
}

void DownloadJob::SetStatus(const QString& text) {
    m_status = text;
    emit changed();
}

void DownloadJob::HeaderData() {
    if (m_stopped || m_rejected)
        return; // a broken link wins over what follows in the same reply
    ArmStallWatch();
    // The status decides first: a redirect's or a busy server's page is text/html as well.
    const int status = m_client->StatusCode();
    const QByteArray line = m_client->CurrentLine();
    const HttpReply::HeaderLine header = HttpReply::ParseHeaderLine(line);
    const bool isField = header.kind == HttpReply::HeaderLine::Field;
    if (isField && header.name == "location" && status >= 300 && status <= 399) {
        Redirect(header.value);
        return;
    }
    const bool somethingOnDisk = BytesOnDisk() > 0 || m_resumedExisting;
    if (line.contains("text/html") && isSuccess(status)) {
        // An error page instead of the rest of a file is a failed try: the bytes on disk
        // stay. Only a file with nothing in it yet is a broken link.
        if (somethingOnDisk)
            Reject();
        else
            BrokenLink();
        return;
    }
    if (line.contains("text/html") && isFinalError(status) && !somethingOnDisk) {
        BrokenLink(); // the server's error page: the link is gone
        return;
    }
    if (isField && header.name == "content-length" && m_asked.from == 0 && isSuccess(status))
        AnnouncedLength(header.value);
}

// Reads a Content-Length value as the client does; one it cannot read leaves the length
// unknown.
void DownloadJob::AnnouncedLength(const QByteArray& value) {
    const qint64 length = HttpReply::ContentLengthValue(value);
    if (length < 0) {
        m_lengthKnown = false;
        return;
    }
    m_announcedLength = length;
    m_fileLengthText = QString::number(length);
    m_lengthKnown = true;
    emit changed();
}

// The header is complete: the reply is the file, its rest, or of no use.
void DownloadJob::HeaderEnd() {
    if (m_stopped || m_rejected || !m_client)
        return;
    m_headerEnded = true;
    const int status = m_client->StatusCode();
    if (!isSuccess(status))
        return; // an error's or a redirect's body is no part of the file; the status decides
    const QList<QByteArray> lines = m_client->HeaderLines();
    const RangeReply::Use use = RangeReply::judge(m_asked, status, lines);
    const QByteArray eTag = HttpReply::FieldValue(lines, "etag");
    const QByteArray lastModified = HttpReply::FieldValue(lines, "last-modified");
    if (use == RangeReply::Use::Reject || use == RangeReply::Use::Untied) {
        // Without the validator a 206 may hold another version's bytes: the next try checks
        // the bytes on disk instead.
        m_untied = m_untied || use == RangeReply::Use::Untied;
        Reject();
        return;
    }
    m_takeBody = true;
    m_replacePending = false; // the reply is the file: from here on it replaces the old one
    if (use == RangeReply::Use::Whole && m_asked.from == 0 && !m_overlap.isEmpty())
        return; // a short file asked for again from its start: its bytes are still checked
    if (use == RangeReply::Use::Whole) {
        if (m_asked.from > 0 || m_file.size() > 0) {
            // Another version, or a server without ranges: the file starts again.
            m_file.resize(0);
            m_file.seek(0);
            m_lengthKnown = false;
            m_fileLengthText.clear();
            const QByteArray length = HttpReply::FieldValue(lines, "content-length");
            if (!length.isEmpty())
                AnnouncedLength(length);
        }
        m_asked = RangeReply::Asked{};
        m_overlap.clear();
        m_wholeNext = false;
        m_eTag = eTag;
        m_lastModified = lastModified;
        return;
    }
    const auto range = RangeReply::parseContentRange(HttpReply::FieldValue(lines, "content-range"));
    m_announcedLength = range->total;
    m_fileLengthText = QString::number(range->total);
    m_lengthKnown = true;
    if (m_eTag.isEmpty() && m_lastModified.isEmpty()) {
        m_eTag = eTag;
        m_lastModified = lastModified;
    }
    emit changed();
}

// This try's reply is of no use: nothing more of it reaches the file.
void DownloadJob::Reject() {
    m_rejected = true;
    m_client->Abort();
}

void DownloadJob::BrokenLink() {
    m_status = QStringLiteral("Sorry, link broken.");
    m_lengthKnown = false;
    m_stopped = true;
    m_okVisible = true;
    StopTimers();
    m_file.close();
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
    if (!old)
        return;
    old->SetReceiveStream(nullptr);
    old->OnRequestDone = nullptr;
    old->OnSessionConnected = nullptr;
    old->OnHeaderData = nullptr;
    old->OnHeaderEnd = nullptr;
    old->OnDocData = nullptr;
    old->OnRequestHeaderBegin = nullptr;
    old->OnHeaderBegin = nullptr;
    old->OnDocBegin = nullptr;
    old->Abort();
    QTimer::singleShot(0, [old] { delete old; });
}

void DownloadJob::Redirect(const QByteArray& location) {
    const QByteArray next = ResolveUrl(m_url, location);
    DropClient();
    m_client = std::make_unique<THttpCli>();
    SetUpClient(*m_client, false);
    if (++m_redirects > kMaxRedirects) {
        // A server that keeps sending us elsewhere ends like one that sent nothing.
        m_stallTimer->stop();
        QTimer::singleShot(0, this, [this] {
            if (!m_stopped && m_outcome == Outcome::Pending)
                Finish(false);
        });
        return;
    }
    m_url = next;
    m_hostAnswered = false; // the new address has yet to answer
    m_deadTries = 0;
    HookClient();
    SetStatus(QStringLiteral("Contacting host"));
    if (BytesOnDisk() > 0 || m_resumedExisting) {
        BeginTry(); // what is on disk stays and is continued from the new address
        return;
    }
    try {
        // The target is opened again, as for the first request: never emptied, and a name
        // that now holds a folder or a device is refused.
        OpenTarget();
        BeginTry();
    } catch (const PellmarError& error) {
        // Ended from the event loop: a message box's own loop must not run while the old
        // client is still inside its event.
        const QString text = error.message();
        QTimer::singleShot(0, this, [this, text] {
            if (!m_stopped && m_outcome == Outcome::Pending)
                EndWithError(text);
        });
    }
}

void DownloadJob::DocData(const char* data, int length) {
    ArmStallWatch();
    if (m_rejected || !m_takeBody)
        return;
    if (!OverlapMatches(data, length)) {
        m_wholeNext = true; // the file changed: its start is fetched again
        Reject();
        return;
    }
    if (!WriteChunk(data, length)) {
        m_writeError = m_file.errorString();
        m_client->Abort();
        return;
    }
    m_tryBytes = m_client->ReceivedCount();
    m_bytesReceived = m_asked.from + std::max<qint64>(m_tryBytes, m_overlap.size());
    if (m_lengthKnown && m_announcedLength != 0) {
        const double exact = double(m_bytesReceived) * 100.0 / double(m_announcedLength);
        m_percent = int(std::nearbyint(exact)); // halves to even
        m_caption = QString::number(m_percent) + QStringLiteral("% ") + m_displayName;
    }
    emit progressed();
}

// Writes the whole chunk; a short write is tried again, so that a full disk reports its
// reason instead of a count.
bool DownloadJob::WriteChunk(const char* data, qint64 length) {
    while (length > 0) {
        const qint64 written = m_file.write(data, length);
        if (written <= 0)
            return false;
        data += written;
        length -= written;
    }
    return true;
}

// The bytes asked for again must be the ones on disk.
bool DownloadJob::OverlapMatches(const char* data, int length) {
    const qint64 left = m_overlap.size() - m_overlapSeen;
    if (left <= 0)
        return true;
    const qint64 count = std::min<qint64>(left, length);
    if (memcmp(data, m_overlap.constData() + m_overlapSeen, size_t(count)) != 0)
        return false;
    m_overlapSeen += count;
    return true;
}

// How the try that just ended counts: the file, a broken try worth another, or the end.
DownloadJob::TryEnd DownloadJob::Classify(quint16 error) const {
    const int status = m_client ? m_client->StatusCode() : 0;
    const bool answered = m_client && !m_client->HeaderLines().isEmpty();
    const qint64 received = m_client ? m_client->ReceivedCount() : 0;
    if (!m_writeError.isEmpty() || m_file.error() != QFileDevice::NoError ||
        error == THttpCli::kErrorHeaderTooLarge)
        return TryEnd::Final;
    if (!m_connected)
        return TryEnd::NoHost; // refused, no route, no such host, or no connection in time
    if (m_stalled || m_rejected)
        return TryEnd::Retry;
    if (!answered && received == 0)
        return TryEnd::Retry; // closed without a word
    if (RetryPolicy::isPassingStatus(status))
        return TryEnd::Retry;
    if (status >= 400)
        return TryEnd::Final;
    if (error != 0 || (answered && !m_headerEnded))
        return TryEnd::Retry; // cut short, reset, or ended inside the header
    if (!isSuccess(status))
        return TryEnd::Final; // a redirect without a Location, a reply without a status
    if (m_lengthKnown && m_asked.from + received < m_announcedLength)
        return TryEnd::Retry;
    return TryEnd::Done;
}

void DownloadJob::RequestDone(quint16 error) {
    if (m_stopped)
        return;
    m_stallTimer->stop();
    TryEnd end = Classify(error);
    if (end == TryEnd::NoHost) {
        // A host that answered before is passing trouble; one that never did gets one
        // more try at once and is then reported.
        const bool quick = !m_hostAnswered && ++m_deadTries < kDeadHostTries;
        end = m_hostAnswered || quick ? TryEnd::Retry : TryEnd::Final;
    }
    if (end == TryEnd::Retry && m_policy.mayRetry(m_retries)) {
        ScheduleRetry();
        return;
    }
    // A file that did not take every byte is not complete.
    const qint64 received = m_client ? m_client->ReceivedCount() : 0;
    Finish(end == TryEnd::Done && m_file.size() == m_asked.from + received);
}

void DownloadJob::ScheduleRetry() {
    const std::optional<int> retryAfter =
        m_client ? RetryPolicy::retryAfterSeconds(m_client->HeaderLines()) : std::nullopt;
    DropClient();
    ++m_retries;
    // A connection that brought part of the file broke under way: the next one goes at once,
    // as does the second try at a host that never answered. Only tries that bring nothing
    // wait, longer each time.
    const bool progressed = m_tryBytes > m_overlap.size() && !m_rejected;
    const bool deadHost = !m_hostAnswered;
    m_fruitlessTries = progressed ? 0 : m_fruitlessTries + 1;
    m_waitLeft = (progressed || deadHost) && !retryAfter
                     ? 0
                     : RetryPolicy::waitSeconds(m_fruitlessTries, retryAfter);
    m_tryBytes = 0;
    m_tryTicks = 0;
    m_waitTimer->start(m_waitLeft > 0 ? 1000 : 0);
    ShowWait();
}

// The wait counts down in seconds, then the next try starts.
void DownloadJob::WaitTick() {
    if (m_waitLeft > 0)
        --m_waitLeft;
    if (m_waitLeft > 0) {
        m_waitTimer->start(1000);
        ShowWait();
        return;
    }
    m_client = std::make_unique<THttpCli>();
    SetUpClient(*m_client, true);
    HookClient();
    SetStatus(QStringLiteral("Contacting host"));
    BeginTry();
}

void DownloadJob::ShowWait() {
    SetStatus(RetryPolicy::waitText(m_retries, m_policy.retryCount(), m_waitLeft));
}

void DownloadJob::ArmStallWatch() {
    m_wireCountAtArm = m_client ? m_client->WireCount() : 0;
    if (m_policy.stallSeconds() > 0)
        m_stallTimer->start(m_policy.stallSeconds() * 1000);
}

// Nothing came for too long: the connection goes and the try counts as broken. Bytes of a
// header line still arriving are progress too, though no whole line has come.
void DownloadJob::Stalled() {
    if (!m_client || m_stopped || m_client->State() == hsReady)
        return; // the try has ended already; its end is on the way
    if (m_client->WireCount() != m_wireCountAtArm) {
        ArmStallWatch();
        return;
    }
    m_stalled = true;
    m_client->Abort();
}

void DownloadJob::Finish(bool success) {
    StopTimers();
    const qint64 whole = BytesOnDisk();
    m_file.close();
    m_bytesReceived = whole;
    // The minimum guards against error pages saved as music; a file the user had before
    // this job is never deleted for it.
    const bool tooSmall = whole < kMinimumSize && !m_resumedExisting;
    if (tooSmall)
        DeleteTarget();
    if (!m_writeError.isEmpty()) {
        EndWithError(m_writeError); // a full disk says so, not that the file was small
        return;
    }
    if (tooSmall) {
        m_outcome = Outcome::TooSmall;
        emit changed();
        emit message(kTooSmallMessage);
        emit ended();
        return;
    }
    if (!success) {
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

// The file could not be written: the status and a message give the system's reason, and
// what is on disk stays for a later resume.
void DownloadJob::EndWithError(const QString& reason) {
    StopTimers();
    m_targetFailed = true;
    m_file.close();
    m_outcome = Outcome::Incomplete;
    SetStatus(reason);
    emit message(reason);
    emit ended();
}

void DownloadJob::StopTimers() {
    m_waitTimer->stop();
    m_stallTimer->stop();
}

// Only a file this job created goes; the user's own file is never deleted.
void DownloadJob::DeleteTarget() {
    if (m_createdFile && !m_targetPath.isEmpty())
        QFile::remove(m_targetPath);
    m_createdFile = false;
}

void DownloadJob::UserStop() {
    m_finished = true;
    StopTimers();
    m_file.close();
    m_client.reset();
    if (m_outcome == Outcome::Pending)
        m_outcome = Outcome::Stopped;
    emit changed();
}

void DownloadJob::CloseRequest() {
    m_stopped = true;
    m_finished = true;
    StopTimers();
    if (m_outcome == Outcome::Pending)
        m_outcome = Outcome::Stopped;
    emit changed();
}

void DownloadJob::ProgressTick() {
    ++m_tickCount;
    ++m_tryTicks;
    // The elapsed time is the number of ticks of this try times the timer's three seconds.
    m_speed = double(m_tryBytes) / (3.0 * m_tryTicks) / 1024.0;
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
    const qint64 onDisk = target.exists() && !m_replacePending ? target.size() : 0;
    return {m_url, m_targetPath, onDisk, m_eTag, m_lastModified};
}
