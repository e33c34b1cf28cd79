#include "download/ExternalHandoff.h"

#include "core/HitText.h"
#include "core/UserOptions.h"
#include "download/TargetNames.h"
#include "platform/Errors.h"
#include "platform/Platform.h"

#include <QFileInfo>
#include <utility>

namespace ExternalHandoff {

const QString kGoZillaKey = QStringLiteral("\\Software\\Go!Zilla\\Version");
const QString kGoZillaQuestion = QStringLiteral(
    "Couldn't find Go!Zilla, please install the latest version. Do you want to get it now?");
const QString kGoZillaSite = QStringLiteral("http://www.gozilla.com/");
const QString kFtpClientFailed = QStringLiteral("Couldn\u00B4t execute FTP-client");

namespace {

const QString kMp3 = QStringLiteral(".mp3");

QByteArray field(const QByteArray& record, int index) {
    return record.split('\t').value(index);
}

} // namespace

QString FindGoZilla(const IRegistry& registry) {
    return registry.value(kGoZillaKey, QStringLiteral("Module Name"));
}

void GoZillaHandoff(Platform& platform, const QByteArray& url,
                    const std::function<void()>& closeProgram) {
    const QString path = FindGoZilla(platform.registry);
    if (!path.isEmpty()) {
        platform.shell.launch(path, {HitText::toUnicode(url)}); // a failed start is not reported
        return;
    }
    if (platform.messages.show(QStringLiteral("Confirm"), kGoZillaQuestion, MessageIcon::Question,
                               MessageButtons::YesNo) != MessageResult::Yes)
        return;
    platform.shell.openWithShell(kGoZillaSite);
    if (closeProgram)
        closeProgram();
}

std::optional<Launch> SmbFetch(const QList<QByteArray>& smbStore, qsizetype index,
                               const QString& target, const QString& programFolder) {
    if (index < 0 || index >= smbStore.size())
        throwListIndexError(index);
    const QByteArray& record = smbStore.at(index);
    const QByteArray unc =
        HitText::joined({"\\\\", field(record, 0), field(record, 1), field(record, 2)});
    // The fetch program adds the extension itself. Only a final ".mp3" goes: one inside a
    // folder name must not cut the name short.
    QString bare = target;
    if (bare.endsWith(kMp3))
        bare.chop(kMp3.size());
    return SmbResume(HitText::toUnicode(unc), bare, programFolder);
}

Launch SmbResume(const QString& source, const QString& target, const QString& programFolder) {
    return {programFolder + QStringLiteral("/Lanpull.exe"), {source, target}, QString()};
}

void FetchSmbHit(Platform& platform, const QList<QByteArray>& smbStore, qsizetype index,
                 const QString& target, const QString& programFolder, const HandoffEnded& ended) {
    const std::optional<Launch> launch = SmbFetch(smbStore, index, target, programFolder);
    if (launch)
        StartWatched(platform.shell, platform.messages, *launch,
                     TargetNames::SmbFileName(launch->args.value(1)), ended);
}

std::optional<QByteArray> FtpHitUrl(const QList<QByteArray>& ftpStore, const QByteArray& name) {
    // A record of exactly this file wins over one that merely contains the name: "a.mp3"
    // must not fetch an "aa.mp3" listed before it.
    for (const bool exact : {true, false}) {
        for (qsizetype i = 0; i < ftpStore.size(); ++i) {
            const QByteArray& record = ftpStore.at(i);
            if (exact ? field(record, 2) != name : !record.contains(name))
                continue;
            if (std::optional<QByteArray> url = FtpRecordUrl(ftpStore, i))
                return url;
        }
    }
    return std::nullopt;
}

std::optional<QByteArray> FtpRecordUrl(const QList<QByteArray>& ftpStore, qsizetype index) {
    if (index < 0 || index >= ftpStore.size())
        return std::nullopt;
    // The host stands in the nearest record at or above this one that holds an "@".
    qsizetype hostIndex = index;
    while (hostIndex >= 0 && !ftpStore.at(hostIndex).contains('@'))
        --hostIndex;
    if (hostIndex < 0)
        return std::nullopt;

    const QByteArray& record = ftpStore.at(index);
    const QByteArray folder = field(record, 1);
    const QByteArray name = field(record, 2);
    QByteArray host = field(ftpStore.at(hostIndex), 0);
    // "user@mail@host": a mail address as the password, then the host.
    if (host.mid(host.indexOf('@') + 1).contains('@'))
        host = HitText::fromUnicode(HitText::toUnicode(host).section(QLatin1Char('@'), -1));
    return HitText::joined({"ftp://", host, folder, folder.endsWith('/') ? "" : "/", name});
}

QString AdjustFtpTarget(const QString& target) {
    return TargetNames::FtpFileName(target);
}

namespace {

Launch MakersFtpClient(const QByteArray& url, const QString& target, const QString& programFolder) {
    const QString text = HitText::toUnicode(url);
    return Launch{programFolder + QStringLiteral("/veskftp.exe"),
                  {text, AdjustFtpTarget(target)},
                  QLatin1Char('"') + text + QLatin1Char('"')};
}

} // namespace

std::optional<Launch> FtpFetch(const QList<QByteArray>& ftpStore, const QByteArray& name,
                               const QString& target, bool useFtp, const QString& ftpPath,
                               const QString& programFolder) {
    const std::optional<QByteArray> url = FtpHitUrl(ftpStore, name);
    if (!url)
        return std::nullopt;
    if (useFtp) {
        const QString text = HitText::toUnicode(*url);
        return Launch{ftpPath, {text}, text};
    }
    return MakersFtpClient(*url, target, programFolder);
}

std::optional<Launch> FtpFetchRecord(const QList<QByteArray>& ftpStore, qsizetype index,
                                     const QString& target, const QString& programFolder) {
    const std::optional<QByteArray> url = FtpRecordUrl(ftpStore, index);
    if (!url)
        return std::nullopt;
    return MakersFtpClient(*url, target, programFolder);
}

void FetchFtpHit(const SettingsFile& ini, Platform& platform, const QList<QByteArray>& ftpStore,
                 const QByteArray& name, const QString& target, const QString& programFolder,
                 const HandoffEnded& ended) {
    const bool ownClient = UserOptions::UseFtp(ini);
    const std::optional<Launch> launch =
        FtpFetch(ftpStore, name, target, ownClient, UserOptions::FtpPath(ini), programFolder);
    if (!launch) {
        if (ended)
            ended(false); // no record qualifies: nothing is reported, nothing was saved
        return;
    }
    const auto cannotStart = [&platform] {
        platform.messages.show(QStringLiteral("Pellmar"), kFtpClientFailed, MessageIcon::None,
                               MessageButtons::Ok);
    };
    if (ownClient) {
        if (!Start(platform.clipboard, platform.shell, *launch))
            cannotStart();
        return;
    }
    platform.clipboard.setText(launch->clipboard);
    platform.shell.launchWatched(
        launch->program, launch->args,
        [&platform, launch = *launch, ended, cannotStart](const ProgramEnd& end) {
            if (!end.started)
                cannotStart();
            else if (!end.ok())
                ReportFailure(platform.messages, HandoffFailure(launch, launch.args.value(1), end));
            if (ended)
                ended(end.ok());
        });
}

void StartWatched(IShell& shell, IMessageBoxes& messages, const Launch& launch, const QString& file,
                  const HandoffEnded& ended) {
    shell.launchWatched(launch.program, launch.args,
                        [&messages, launch, file, ended](const ProgramEnd& end) {
                            if (!end.ok())
                                ReportFailure(messages, HandoffFailure(launch, file, end));
                            if (ended)
                                ended(end.ok());
                        });
}

namespace {

// Failures that end while a failure box is open wait for it and share the next box, so that
// a hundred fetches failing together do not stack a hundred boxes.
struct PendingReports {
    QStringList texts;
    bool showing = false;
};

PendingReports& pendingReports() {
    static PendingReports reports;
    return reports;
}

} // namespace

void ReportFailure(IMessageBoxes& messages, const QString& text) {
    PendingReports& reports = pendingReports();
    reports.texts.append(text);
    if (reports.showing)
        return;
    reports.showing = true;
    while (!reports.texts.isEmpty())
        messages.show(QStringLiteral("Pellmar"), FailureSummary(std::exchange(reports.texts, {})),
                      MessageIcon::Warning, MessageButtons::Ok);
    reports.showing = false;
}

QString FailureSummary(const QStringList& failures) {
    if (failures.size() == 1)
        return failures.first();
    QString text = QStringLiteral("%1 fetches were not saved.").arg(failures.size());
    for (const QString& failure : failures.mid(0, kMostFailuresShown))
        text += QStringLiteral("\r\r") + failure;
    if (failures.size() > kMostFailuresShown)
        text += QStringLiteral("\r\r... and %1 more.").arg(failures.size() - kMostFailuresShown);
    return text;
}

QString Quote(const QString& name) {
    if (name.size() <= kLongestQuote)
        return name;
    return name.left(kLongestQuote) + QStringLiteral("...");
}

QString HandoffFailure(const Launch& launch, const QString& file, const ProgramEnd& end) {
    QString how;
    if (!end.started)
        how = QStringLiteral("%1 could not be started.").arg(launch.program);
    else if (end.crashed)
        how = QStringLiteral("%1 crashed.").arg(QFileInfo(launch.program).fileName());
    else
        how = QStringLiteral("%1 ended with exit code %2%3")
                  .arg(QFileInfo(launch.program).fileName())
                  .arg(end.exitCode)
                  .arg(end.said.isEmpty() ? QStringLiteral(".")
                                          : QStringLiteral(": ") + end.said.left(200));
    return QStringLiteral("%1 was not saved as %2.\r%3")
        .arg(Quote(launch.args.value(0)), Quote(file), how);
}

bool Start(IClipboard& clipboard, IShell& shell, const Launch& launch) {
    if (!launch.clipboard.isEmpty())
        clipboard.setText(launch.clipboard);
    return shell.launch(launch.program, launch.args);
}

} // namespace ExternalHandoff
