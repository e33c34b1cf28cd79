#pragma once

#include <QByteArray>
#include <QFile>
#include <QObject>
#include <QString>
#include <memory>
#include <optional>

#include "download/JobTimer.h"
#include "download/RangeReply.h"
#include "download/RetryPolicy.h"

class SettingsFile;
class THttpCli;

// One HTTP file fetched by the program itself, without a window: the client, the target
// file, the progress texts a download window shows, and the rules for redirects, broken
// links, too-small results and transfers cut short. A transfer that breaks, stalls or meets
// a passing server error is tried again under the user's RetryPolicy, continuing the file
// on disk with a range request (see RangeReply). A window (or pellmar-cli) shows it and
// forwards the user's gestures; the queue decides when it starts and destroys it once
// Finished is set. Everything runs on the main thread.
class DownloadJob : public QObject {
    Q_OBJECT

public:
    // How the transfer ended, as far as it has.
    enum class Outcome { Pending, Complete, TooSmall, Broken, Incomplete, Stopped };

    // What a later resume needs.
    struct ResumeInfo {
        QByteArray url;
        QString target;
        qint64 bytesOnDisk = 0;
        QByteArray eTag;
        QByteArray lastModified;
    };

    static constexpr qint64 kMinimumSize = 30001; // smaller results are not kept
    static constexpr int kTickMs = 3000;
    static constexpr int kMaxRedirects = 20;
    // Without a validator a continued file is checked against this many of its last bytes,
    // asked for again.
    static constexpr qint64 kOverlapBytes = 16384;

    // What becomes of a target file that exists: replaced once a reply has been judged to
    // be the file (a 2xx that is no broken link), or continued from its end. A missing file
    // is created; a target that is not a regular file is refused. Reserved: an empty file the
    // caller made to claim the name for this job, which the job owns as if it had made it.
    enum class TargetMode { Replace, Resume, Reserved };

    // The proxy comes from ini at creation and again for every redirect's client.
    explicit DownloadJob(const SettingsFile& ini, QObject* parent = nullptr);
    ~DownloadJob() override;

    // Both set the job up and open or create the target file (throwing "Cannot create file
    // %s" when it cannot); StartTransfer also sends the request.
    void StartTransfer(const QString& path, const QByteArray& url,
                       TargetMode mode = TargetMode::Replace);
    void QueueTransfer(const QString& path, const QByteArray& url,
                       TargetMode mode = TargetMode::Replace);
    // Starts a queued job's request; the status text stays.
    void StartQueued();

    // The timers of the waits, the stall watch and the progress tick, made in that order;
    // before the transfer starts.
    void SetTimerFactory(const JobTimer::Factory& factory);

    // Ok or Cancel: the partial file stays, the client goes; a wait ends at once.
    void UserStop();
    // The window's close box: the window stays until the queue destroys it.
    void CloseRequest();
    // The progress timer's step (public so that tests need not wait for it).
    void ProgressTick();

    bool Finished() const { return m_finished; }
    bool Stopped() const { return m_stopped; }
    Outcome outcome() const { return m_outcome; }
    THttpCli* client() const { return m_client.get(); }

    QString TargetPath() const { return m_targetPath; }
    QString DisplayName() const { return m_displayName; }
    qint64 AnnouncedLength() const { return m_announcedLength; }
    bool LengthKnown() const { return m_lengthKnown; }
    qint64 BytesReceived() const { return m_bytesReceived; }
    int TickCount() const { return m_tickCount; }
    // Tries after the first one so far, and the bytes the current try received.
    int RetriesDone() const { return m_retries; }
    qint64 TryBytes() const { return m_tryBytes; }
    bool Waiting() const { return m_waitTimer->isActive(); }
    // The target file refused (a full disk, a name that became a folder): another source
    // would fare no better.
    bool TargetFailed() const { return m_targetFailed; }
    ResumeInfo resumeInfo() const;

    // The texts and values a window shows.
    QString caption() const { return m_caption; }
    QString status() const { return m_status; }
    int percent() const { return m_percent; }
    QString bytesText() const { return QString::number(m_bytesReceived); }
    QString fileLengthText() const { return m_fileLengthText; }
    QString speedText() const { return m_speedText; }
    QString timeLeftText() const { return m_timeLeftText; }
    double speedKbPerSecond() const { return m_speed; }
    bool okVisible() const { return m_okVisible; }

    static const QString kTooSmallMessage;

signals:
    // Shown texts or values changed.
    void changed();
    // Body bytes arrived (often: a view may redraw less often than this comes).
    void progressed();
    // A message the user must see (a window shows a message box).
    void message(const QString& text);
    // The request ended; outcome() says how.
    void ended();

private:
    // How a try ended; NoHost: no connection came up.
    enum class TryEnd { Done, Retry, Final, NoHost };

    void SetUp(const QString& path, const QByteArray& url, TargetMode mode);
    void OpenTarget();
    qint64 BytesOnDisk() const;
    bool WriteChunk(const char* data, qint64 length);
    void EndWithError(const QString& reason);
    void SetUpClient(THttpCli& client, bool withStatusHandlers);
    void HookClient();
    void BeginTry();
    void AskForRest();
    void HeaderEnd();
    void Reject();
    bool OverlapMatches(const char* data, int length);
    TryEnd Classify(quint16 error) const;
    void ScheduleRetry();
    void WaitTick();
    void ShowWait();
    void Stalled();
    void ArmStallWatch();
    void Finish(bool success);
    void StopTimers();
    void SetStatus(const QString& text);
    void HeaderData();
    void DocData(const char* data, int length);
    void RequestDone(quint16 error);
    void Redirect(const QByteArray& location);
    void BrokenLink();
    void AnnouncedLength(const QByteArray& value);
    void DropClient();
    void DeleteTarget();
    void End(Outcome outcome);

    const SettingsFile& m_ini;
    std::unique_ptr<THttpCli> m_client;
    QFile m_file;
    std::unique_ptr<JobTimer> m_waitTimer;
    std::unique_ptr<JobTimer> m_stallTimer;
    std::unique_ptr<JobTimer> m_tickTimer;
    RetryPolicy m_policy{0, 0};

    QString m_targetPath;
    QString m_displayName;
    QByteArray m_url;
    qint64 m_announcedLength = 0;
    bool m_lengthKnown = false;
    qint64 m_bytesReceived = 0;
    int m_tickCount = 0;
    bool m_stopped = false;
    bool m_finished = false;
    int m_redirects = 0;
    Outcome m_outcome = Outcome::Pending;
    QByteArray m_eTag; // the validators of the version on disk
    QByteArray m_lastModified;
    bool m_createdFile = false;    // the job made the target: it may delete it again
    bool m_replacePending = false; // the user's file waits for a good reply to replace it
    QString m_writeError;          // why the file refused bytes (a full disk)
    bool m_targetFailed = false;   // the job ended on the target file's error

    // The retries.
    int m_retries = 0;
    int m_fruitlessTries = 0; // in a row, without a byte of the file
    int m_waitLeft = 0;
    int m_tryTicks = 0;
    qint64 m_tryBytes = 0;
    bool m_resumedExisting = false; // the file held the user's bytes before this job
    bool m_wholeNext = false;       // the next try asks for the whole file
    bool m_untied = false;          // partial replies came without their validator
    bool m_connected = false;       // this try reached the host
    bool m_hostAnswered = false;    // some try reached the current address
    int m_deadTries = 0;            // tries at an address that never answered
    bool m_takeBody = false;        // this try's reply is the file or its rest
    RangeReply::Asked m_asked;
    QByteArray m_overlap; // the bytes a try without validator must see again first
    qint64 m_overlapSeen = 0;
    bool m_headerEnded = false;
    bool m_rejected = false;
    bool m_stalled = false;
    qint64 m_wireCountAtArm = 0; // the client's WireCount when the stall watch was armed

    QString m_caption;
    QString m_status = QStringLiteral("Status");
    int m_percent = 0;
    QString m_fileLengthText;
    QString m_speedText;
    QString m_timeLeftText;
    double m_speed = 0;
    bool m_okVisible = false;
};
