#include "download/SaveActions.h"

#include "core/HitRecords.h"
#include "core/UserOptions.h"
#include "download/DownloadQueue.h"
#include "download/ExternalHandoff.h"
#include "download/TargetNames.h"
#include "platform/Cp1252.h"
#include "platform/Errors.h"
#include "platform/Platform.h"
#include "platform/SettingsFile.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>

const QString SaveActions::kFilter = QStringLiteral("MP3-file (*.mp3)");

namespace {

const QString kMp3 = QStringLiteral(".mp3");

} // namespace

SaveActions::SaveActions(SettingsFile& ini, Platform& platform, DownloadQueue& queue,
                         QString programFolder, std::function<void()> closeProgram)
    : m_ini(ini), m_platform(platform), m_queue(queue), m_programFolder(std::move(programFolder)),
      m_closeProgram(std::move(closeProgram)) {}

std::optional<QString> SaveActions::AskTarget(const QString& proposal, bool callerAsks) {
    const QString folder = UserOptions::InitialDir(m_ini);
    std::optional<QString> chosen =
        callerAsks ? m_platform.dialogs.saveFileCallerAsks(QString(), folder, proposal, kFilter)
                   : m_platform.dialogs.saveFile(QString(), folder, proposal, kFilter);
    if (!chosen || chosen->isEmpty())
        return std::nullopt;
    if (QFileInfo(*chosen).suffix().isEmpty())
        *chosen += kMp3; // the dialog's default extension
    m_ini.writeString(QStringLiteral("Options"), QStringLiteral("InitialDir"),
                      QFileInfo(*chosen).absolutePath() + QLatin1Char('/'));
    return chosen;
}

void SaveActions::SearchListviewDblClick(HitKind view, const std::optional<SelectedHit>& selected,
                                         const HitStores& stores) {
    if (!selected)
        return;
    if (view == HitKind::Http) {
        SaveHttpHit(selected->caption, stores.http);
        return;
    }
    const std::optional<QString> target =
        AskTarget(TargetNames::FromCaption(selected->caption) + kMp3, true);
    if (!target)
        return;
    // The question is about the file the outside program writes, not the name typed.
    if (view == HitKind::Smb) {
        if (MayReplace(TargetNames::SmbFileName(*target)))
            ExternalHandoff::FetchSmbHit(m_platform, stores.smb, selected->row, *target,
                                         m_programFolder);
        return;
    }
    // The user's own FTP client is not told where to save.
    if (UserOptions::UseFtp(m_ini) || MayReplace(TargetNames::FtpFileName(*target)))
        ExternalHandoff::FetchFtpHit(m_ini, m_platform, stores.ftp, selected->caption, *target,
                                     m_programFolder);
}

bool SaveActions::MayReplace(const QString& file) {
    if (!QFileInfo::exists(file))
        return true;
    return m_platform.messages.show(QStringLiteral("Confirm"), ReplaceQuestion(file),
                                    MessageIcon::Warning,
                                    MessageButtons::YesNo) == MessageResult::Yes;
}

void SaveActions::SaveAllSelectedClick(HitKind view, const QList<SelectedHit>& selected,
                                       const HitStores& stores) {
    // The user's own FTP client is not told where to save: it needs no folder.
    const bool ownFtpClient = view == HitKind::Ftp && UserOptions::UseFtp(m_ini);
    QString folder;
    if (view != HitKind::Http && !ownFtpClient) {
        const std::optional<QString> chosen =
            m_platform.dialogs.browseFolder(QString(), UserOptions::InitialDir(m_ini));
        if (!chosen || chosen->isEmpty())
            return; // a cancelled folder choice saves nothing
        folder = *chosen;
        if (!folder.endsWith(QLatin1Char('/')))
            folder += QLatin1Char('/');
    }
    QSet<QString> taken;
    for (const SelectedHit& hit : selected) {
        if (view == HitKind::Http)
            SaveHttpHit(hit.caption, stores.http);
        else if (ownFtpClient)
            ExternalHandoff::FetchFtpHit(m_ini, m_platform, stores.ftp, hit.caption, QString(),
                                         m_programFolder); // the user's client is not told where
        else
            HandOverNew(view, hit, stores, folder, taken);
    }
}

void SaveActions::HandOverNew(HitKind view, const SelectedHit& hit, const HitStores& stores,
                              const QString& folder, QSet<QString>& taken) {
    // A name that is taken gets " (2)", " (3)" ...: nothing on disk is written over. The
    // name is held by an empty file until the program has written the real one.
    const TargetNames::Reservation target =
        TargetNames::Reserve(folder.chopped(1), TargetNames::LocalName(hit.caption), taken);
    if (!target.error.isEmpty())
        throw PellmarError(target.error);
    const QString file = target.path;
    const auto ended = [file](bool saved) {
        if (!saved && QFileInfo(file).size() == 0)
            QFile::remove(file);
    };
    if (view == HitKind::Smb)
        ExternalHandoff::FetchSmbHit(m_platform, stores.smb, hit.row, file, m_programFolder, ended);
    else
        ExternalHandoff::FetchFtpHit(m_ini, m_platform, stores.ftp, hit.caption, file,
                                     m_programFolder, ended);
}

void SaveActions::SaveHttpHit(const QByteArray& name, const QList<QByteArray>& httpStore) {
    // A record of exactly this name wins over one that merely contains it, which would save
    // another file ("a.mp3" inside "aa.mp3").
    auto record = std::find_if(httpStore.crbegin(), httpStore.crend(), [&](const QByteArray& r) {
        return HttpHitRecord::fromLine(r).name == name;
    });
    if (record == httpStore.crend())
        record = std::find_if(httpStore.crbegin(), httpStore.crend(),
                              [&](const QByteArray& r) { return r.contains(name); });
    if (record == httpStore.crend())
        return;
    const HttpHitRecord hit = HttpHitRecord::fromLine(*record);
    const QByteArray url = hit.url;
    if (UserOptions::UseGoZilla(m_ini)) {
        ExternalHandoff::GoZillaHandoff(m_platform, url, m_closeProgram);
        return;
    }
    const QString proposal = TargetNames::FromCaption(name);
    const std::optional<QString> target =
        AskTarget(proposal.contains(kMp3) ? proposal : proposal + kMp3, true);
    if (!target)
        return;
    const std::optional<bool> resume = AskResume(*target, hit.size);
    if (resume)
        m_queue.StartDownload(*target, url, *resume);
}

std::optional<bool> SaveActions::AskResume(const QString& target, qint64 hitSize) {
    const QFileInfo file(target);
    if (!file.exists())
        return false;
    if (OffersResume(file.size(), hitSize)) {
        const MessageResult answer = m_platform.messages.show(
            QStringLiteral("Confirm"), ResumeQuestion(target, file.size(), hitSize),
            MessageIcon::Question, MessageButtons::YesNoCancel);
        if (answer == MessageResult::Cancel)
            return std::nullopt;
        return answer == MessageResult::Yes;
    }
    if (m_platform.messages.show(QStringLiteral("Confirm"), ReplaceQuestion(target),
                                 MessageIcon::Warning, MessageButtons::YesNo) != MessageResult::Yes)
        return std::nullopt;
    return false;
}

bool SaveActions::OffersResume(qint64 onDisk, qint64 hitSize) {
    return onDisk > 0 && onDisk < hitSize;
}

QString SaveActions::ReplaceQuestion(const QString& target) {
    return target + QStringLiteral(" already exists.\rDo you want to replace it?");
}

QString SaveActions::ResumeQuestion(const QString& target, qint64 onDisk, qint64 hitSize) {
    return QStringLiteral("%1 holds %2 of %3 bytes.\rResume the download? (No replaces the file)")
        .arg(target)
        .arg(onDisk)
        .arg(hitSize);
}
