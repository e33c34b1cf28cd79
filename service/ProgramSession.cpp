#include "service/ProgramSession.h"

#include "PellmarVersion.h"

#include "platform/Platform.h"
#include "platform/ProgramFolder.h"
#include "platform/SettingsFile.h"

#include <QDateTime>
#include <QDir>
#include <QFile>

namespace {

const QString kOptions = QStringLiteral("Options");
const QString kWinPos = QStringLiteral("WinPos");

} // namespace

ProgramSession::ProgramSession(Platform& platform, SettingsFile& ini, Random random)
    : m_platform(platform), m_ini(ini), m_random(std::move(random)),
      m_generator(static_cast<unsigned>(QDateTime::currentMSecsSinceEpoch())),
      m_foundFixedIni(QFile::exists(ProgramFolder::file(QStringLiteral("Pellmar.ini")))) {}

void ProgramSession::RecordInRegistry() const {
    const QString exe = ProgramFolder::executablePath();
    const QString version = QStringLiteral("Software\\Pellmar\\Version");
    m_platform.registry.setValue(version, QStringLiteral("Module Name"), exe);
    m_platform.registry.setValue(version, QStringLiteral("revision"),
                                 QString::fromLatin1(kPellmarVersion));
    m_platform.registry.setValue(
        QStringLiteral("Software\\VB and VBA Program Settings\\Tunebin\\Startup"),
        QStringLiteral("vesk"), exe);
}

QString ProgramSession::TellAFriendLink(const QString& homeUrl) {
    return QStringLiteral("mailto:?subject=Check out Pellmar!&body=The easiest way to find mp3 "
                          "files on the net. It's freeware! You can download it from ") +
           homeUrl;
}

void ProgramSession::AskTellAFriend(const QString& homeUrl) {
    if (!m_foundFixedIni)
        return;
    const int draw =
        m_random ? m_random(20) : std::uniform_int_distribution<int>(0, 19)(m_generator);
    if (draw != 0)
        return;
    const MessageResult answer = m_platform.messages.show(
        QStringLiteral("Pellmar"), QStringLiteral("Do you know anyone who would like Pellmar?"),
        MessageIcon::Warning, MessageButtons::YesNo);
    if (answer == MessageResult::Yes)
        m_platform.shell.openWithShell(TellAFriendLink(homeUrl));
}

// A first start, or a window closed maximized, opens maximized; the rest of the placement is
// then not read.
WindowPlacement ProgramSession::ReadPlacement() const {
    if (m_ini.readBool(kOptions, QStringLiteral("FirstTime"), true) ||
        m_ini.readInteger(kWinPos, QStringLiteral("Width"), 0) == -1)
        return {true};
    WindowPlacement placement;
    placement.left = m_ini.readInteger(kWinPos, QStringLiteral("Left"), 0);
    placement.top = m_ini.readInteger(kWinPos, QStringLiteral("Top"), 0);
    placement.width = m_ini.readInteger(kWinPos, QStringLiteral("Width"), 0);
    placement.height = m_ini.readInteger(kWinPos, QStringLiteral("Height"), 0);
    return placement;
}

SavedSources ProgramSession::ReadSources() const {
    return {m_ini.readBool(kOptions, QStringLiteral("SearchHttp"), true),
            m_ini.readBool(kOptions, QStringLiteral("SearchFtp"), true),
            m_ini.readBool(kOptions, QStringLiteral("SearchSMB"), true)};
}

UserOptions::StartupProxy ProgramSession::BannerProxyAtStart() const {
    UserOptions::StartupProxy proxy = UserOptions::ProxyForBannerAtStart(m_ini);
    if (proxy.portRefused) {
        m_platform.messages.show(
            QStringLiteral("Pellmar"),
            QStringLiteral("The proxy port \"%1\" is not a number, so Pellmar connects without "
                           "a proxy. Correct the port in Options.")
                .arg(UserOptions::ProxyPortText(m_ini).left(200)),
            MessageIcon::Warning, MessageButtons::Ok);
    }
    return proxy;
}

// Queued downloads do not count; finished ones not yet removed and ones waiting for the user
// do.
bool ProgramSession::MayClose(qsizetype activeDownloads) const {
    if (activeDownloads == 0)
        return true;
    return m_platform.messages.show(
               QStringLiteral("Warning"),
               QStringLiteral("Downloads in progress. Are you sure you want to quit?"),
               MessageIcon::Warning, MessageButtons::YesNo) == MessageResult::Yes;
}

void ProgramSession::RemoveTempFiles() const {
    QDir temp(ProgramFolder::file(QStringLiteral("temp")));
    for (const QString& name : temp.entryList({QStringLiteral("*.tmp")}, QDir::Files))
        temp.remove(name);
}

// Left, top and height are the window's own even when it is maximized.
void ProgramSession::SaveOnClose(const SavedSources& sources, const WindowPlacement& placement) {
    m_ini.writeBool(kOptions, QStringLiteral("SearchHttp"), sources.http);
    m_ini.writeBool(kOptions, QStringLiteral("SearchFtp"), sources.ftp);
    m_ini.writeBool(kOptions, QStringLiteral("SearchSMB"), sources.smb);
    m_ini.writeString(kOptions, QStringLiteral("FirstTime"), QStringLiteral("0"));
    m_ini.writeInteger(kWinPos, QStringLiteral("Left"), placement.left);
    m_ini.writeInteger(kWinPos, QStringLiteral("Top"), placement.top);
    m_ini.writeInteger(kWinPos, QStringLiteral("Width"),
                       placement.maximized ? -1 : placement.width);
    m_ini.writeInteger(kWinPos, QStringLiteral("Height"), placement.height);
}
