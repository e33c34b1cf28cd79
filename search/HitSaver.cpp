#include "search/HitSaver.h"

#include "core/HitRecords.h"
#include "download/DownloadJob.h"
#include "download/ExternalHandoff.h"
#include "download/TargetNames.h"
#include "net/HttpCli.h"
#include "platform/Errors.h"
#include "search/HitRows.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTimer>

namespace {

constexpr qsizetype kLongestReason = 300;

// A message box text on one line.
QString oneLine(QString text) {
    text.replace(QLatin1Char('\r'), QLatin1Char(' '));
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return text.left(kLongestReason);
}

// The last line a program wrote to its error output: what went wrong, in its words.
QString lastErrorLine(QProcess& process) {
    const QList<QByteArray> lines = process.readAllStandardError().trimmed().split('\n');
    return oneLine(QString::fromLocal8Bit(lines.last().trimmed()));
}

// An error status says more than the size (the client keeps no body of one); without a
// reply the client's reason stands alone (a refused connection, a failed look-up).
QString statusProblem(const THttpCli* client) {
    if (!client || client->StatusCode() < 400)
        return QString();
    QString reason = oneLine(QString::fromLatin1(client->ReasonPhrase()));
    if (client->HeaderLines().isEmpty())
        return reason;
    return QStringLiteral("%1 %2").arg(client->StatusCode()).arg(reason);
}

void removeIfEmpty(const QString& path) {
    if (!path.isEmpty() && QFileInfo(path).size() == 0)
        QFile::remove(path);
}

} // namespace

struct HitSaver::Item {
    HitKind kind;
    QByteArray caption;
    qsizetype index = 0;   // the record in its store
    QByteArray url;        // HTTP
    bool reserved = false; // result.file was made, empty, by this run
    bool done = false;
    Result result;
};

HitSaver::HitSaver(const SettingsFile& ini, QString programFolder, QString targetFolder,
                   QSet<int> marks, int parallel, QObject* parent)
    : QObject(parent), m_ini(ini), m_programFolder(std::move(programFolder)),
      m_targetFolder(std::move(targetFolder)), m_marks(std::move(marks)),
      m_parallel(std::max(1, parallel)) {}

HitSaver::~HitSaver() = default;

void HitSaver::start(const HitStores& stores) {
    if (!m_items.empty() || m_finished)
        return; // once: the running hits hold on to their items
    m_stores = stores;
    chooseHits(stores);
    // Started from the event loop, so that every result arrives after start() returned.
    QTimer::singleShot(0, this, [this] {
        startMore();
        reportInOrder();
    });
}

void HitSaver::chooseHits(const HitStores& stores) {
    HitRowMaker rows(m_ini);
    for (qsizetype i = 0; i < stores.http.size(); ++i) {
        const HttpHitRecord hit = HttpHitRecord::fromLine(stores.http.at(i));
        const SearchHit row =
            rows.make(hit.name, hit.size, hit.stereo, hit.sampleRate, hit.bitrate, hit.rateMode);
        if (m_marks.contains(row.image))
            addItem(HitKind::Http, "http", row.caption, i, hit.url);
    }
    for (qsizetype i = 0; i < stores.ftp.size(); ++i) {
        const ListingRecord hit = ListingRecord::fromLine(stores.ftp.at(i));
        addItem(HitKind::Ftp, "ftp", hit.name, i, {});
    }
    for (qsizetype i = 0; i < stores.smb.size(); ++i) {
        const ListingRecord hit = ListingRecord::fromLine(stores.smb.at(i));
        addItem(HitKind::Smb, "smb", hit.name, i, {});
    }
}

void HitSaver::addItem(HitKind kind, const QByteArray& kindName, const QByteArray& caption,
                       qsizetype index, const QByteArray& url) {
    Item item{kind, caption, index, url};
    item.result.kind = kindName;
    item.result.caption = caption;
    m_items.push_back(item);
}

void HitSaver::startMore() {
    while (m_running < m_parallel && m_next < m_items.size()) {
        ++m_running;
        begin(m_items[m_next++]);
    }
}

void HitSaver::begin(Item& item) {
    const TargetNames::Reservation target =
        TargetNames::Reserve(m_targetFolder, TargetNames::LocalName(item.caption), m_taken);
    item.result.file = target.path;
    if (!target.error.isEmpty()) {
        done(item, target.error);
        return;
    }
    item.reserved = true;
    switch (item.kind) {
    case HitKind::Http:
        beginDownload(item);
        return;
    case HitKind::Ftp:
        if (const auto launch = ExternalHandoff::FtpFetchRecord(m_stores.ftp, item.index,
                                                                target.path, m_programFolder))
            beginProgram(item, *launch);
        else
            done(item, QStringLiteral("No FTP host for this hit"));
        return;
    case HitKind::Smb:
        if (const auto launch =
                ExternalHandoff::SmbFetch(m_stores.smb, item.index, target.path, m_programFolder))
            beginProgram(item, *launch);
        else
            done(item, QStringLiteral("No SMB path for this hit"));
        return;
    }
}

void HitSaver::beginDownload(Item& item) {
    auto* job = new DownloadJob(m_ini, this);
    // ended comes from inside the job's client: the job goes later, from the event loop.
    connect(job, &DownloadJob::ended, this, [this, &item, job] { downloadEnded(item, job, {}); });
    // A message with the transfer still pending is a file error after a redirect: no end
    // follows it.
    connect(job, &DownloadJob::message, this, [this, &item, job](const QString& text) {
        if (job->outcome() == DownloadJob::Outcome::Pending)
            downloadEnded(item, job, text);
    });
    try {
        // The empty file that claimed the name is the job's to replace or delete.
        job->StartTransfer(item.result.file, item.url, DownloadJob::TargetMode::Reserved);
    } catch (const PellmarError& error) {
        downloadEnded(item, job, error.message());
    }
}

void HitSaver::downloadEnded(Item& item, DownloadJob* job, const QString& message) {
    if (item.done)
        return;
    job->disconnect(this);
    job->deleteLater();
    QString problem = oneLine(message);
    switch (job->outcome()) {
    case DownloadJob::Outcome::Complete:
        break;
    case DownloadJob::Outcome::TooSmall:
        problem = statusProblem(job->client());
        if (problem.isEmpty())
            problem = oneLine(DownloadJob::kTooSmallMessage);
        break;
    case DownloadJob::Outcome::Pending:
    case DownloadJob::Outcome::Stopped:
        break;
    case DownloadJob::Outcome::Broken:
    case DownloadJob::Outcome::Incomplete:
        problem = job->status();
        break;
    }
    done(item, problem);
}

void HitSaver::beginProgram(Item& item, const ExternalHandoff::Launch& launch) {
    auto* process = new QProcess(this);
    process->setStandardInputFile(QProcess::nullDevice());
    process->setStandardOutputFile(QProcess::nullDevice());
    const QString program = launch.program;
    connect(process, &QProcess::finished, this,
            [this, &item, process] { programEnded(item, process); });
    connect(process, &QProcess::errorOccurred, this,
            [this, &item, process, program](QProcess::ProcessError error) {
                if (error != QProcess::FailedToStart)
                    return; // the end follows
                process->deleteLater();
                done(item, program + QStringLiteral(" could not be started"));
            });
    // An argument vector, no shell: names come from the network.
    process->start(launch.program, launch.args);
}

QString HitSaver::sizeProblem(const Item& item, const QString& program) const {
    const QList<QByteArray>& store = item.kind == HitKind::Ftp ? m_stores.ftp : m_stores.smb;
    // The size of a listing line's first field, when it is a plain number.
    bool plain = false;
    const qint64 listed =
        ListingRecord::fromLine(store.value(item.index)).sizeText().toLongLong(&plain);
    const qint64 written = QFileInfo(item.result.file).size();
    if (!plain || written == listed)
        return QString();
    return QStringLiteral("%1 wrote %2 bytes, the listing says %3")
        .arg(program)
        .arg(written)
        .arg(listed);
}

void HitSaver::programEnded(Item& item, QProcess* process) {
    process->deleteLater();
    const QString name = QFileInfo(process->program()).fileName();
    QString problem;
    if (process->exitStatus() == QProcess::CrashExit) {
        problem = name + QStringLiteral(" crashed");
    } else if (process->exitCode() != 0) {
        problem = QStringLiteral("%1 ended with exit code %2").arg(name).arg(process->exitCode());
        const QString said = lastErrorLine(*process);
        if (!said.isEmpty())
            problem += QStringLiteral(": ") + said;
    } else {
        // A file that is not what was asked (a folder's listing, an error text) is no success.
        problem = sizeProblem(item, name);
    }
    done(item, problem);
}

void HitSaver::done(Item& item, const QString& problem) {
    if (item.done)
        return;
    item.done = true;
    item.result.problem = problem;
    if (!problem.isEmpty()) {
        ++m_failures;
        // A failure leaves no empty file behind; a partial one stays for a later resume.
        if (item.reserved)
            removeIfEmpty(item.result.file);
    }
    --m_running;
    // Later, from the event loop: a hit that ends inside begin() must not start the next one
    // from within the loop that starts them.
    QTimer::singleShot(0, this, [this] {
        startMore();
        reportInOrder();
    });
}

void HitSaver::reportInOrder() {
    while (m_reported < m_items.size() && m_items[m_reported].done)
        emit saved(m_items[m_reported++].result);
    if (m_reported == m_items.size() && !m_finished) {
        m_finished = true;
        emit finished();
    }
}
