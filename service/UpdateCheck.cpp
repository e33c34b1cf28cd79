#include "service/UpdateCheck.h"

#include "PellmarVersion.h"
#include "core/DataFileConfig.h"
#include "core/TextHelpers.h"
#include "net/HttpCli.h"
#include "net/RequestSetup.h"
#include "platform/Cp1252.h"
#include "platform/Errors.h"
#include "platform/MessageBoxes.h"
#include "platform/Shell.h"
#include "service/ReplySizeLimit.h"

#include <QBuffer>
#include <QTimer>
#include <QUrl>
#include <cstdio>

namespace {

const QByteArray& lineAt(const QList<QByteArray>& lines, qsizetype index) {
    if (index >= lines.size())
        throwListIndexError(index);
    return lines[index];
}

// The version file comes over plain HTTP: anything on the way may change it, so only a web
// page is handed to the desktop's opener, never a file, a program or another scheme.
bool isWebPage(const QByteArray& address) {
    const QUrl url(Cp1252::toUnicode(address), QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    return url.isValid() && !url.host().isEmpty() &&
           (scheme == QLatin1String("http") || scheme == QLatin1String("https"));
}

// The start of a line from the network as a terminal may show it: control characters
// (C0, DEL, C1) become '?', so the line cannot move the cursor or set the title.
QByteArray forTerminal(const QByteArray& line) {
    QByteArray shown = line.left(200);
    for (char& c : shown) {
        const auto code = static_cast<unsigned char>(c);
        if (code < 0x20 || code == 0x7F || (code >= 0x80 && code < 0xA0))
            c = '?';
    }
    return shown;
}

} // namespace

UpdateCheck::UpdateCheck(const SettingsFile& ini, IMessageBoxes& messages, IShell& shell,
                         QObject* parent)
    : QObject(parent), m_ini(ini), m_messages(messages), m_shell(shell) {}

UpdateCheck::~UpdateCheck() = default;

void UpdateCheck::StartCheck(Hooks hooks) {
    if (m_checkDone || running())
        return;
    m_hooks = std::move(hooks);
    if (m_hooks.setStatus)
        m_hooks.setStatus(QStringLiteral("Looking for new version"));
    m_statusShown = true;
    m_client = std::make_unique<THttpCli>();
    m_received = std::make_unique<QBuffer>();
    m_received->open(QIODevice::ReadWrite);
    SetUpRequest(*m_client, m_ini);
    m_client->SetURL(Cp1252::fromUnicode(m_hooks.homeUrl) + "/version2.txt");
    m_client->SetAgent(QByteArray("Pellmar ") + kPellmarVersion);
    m_client->SetReceiveStream(m_received.get());
    m_sizeLimit = std::make_unique<ReplySizeLimit>(*m_client, kMaxVersionFileBytes);
    m_client->OnDocEnd = [this](THttpCli*) { docEnd(); };
    m_client->OnRequestDone = [this](THttpCli*, THttpRequest, quint16) { requestDone(); };
    m_client->GetAsync();
}

// An error page is no version file: it leaves the check as a failed request does.
void UpdateCheck::docEnd() {
    if (m_checkDone || m_client->StatusCode() != 200 || m_sizeLimit->exceeded())
        return;
    m_checkDone = true;
    clearStatus();
    // The question and the refresh window wait for their answer in a loop of their own:
    // they run after the client's event, never inside it.
    m_pendingFile = true;
    QTimer::singleShot(0, this, [this, content = m_received->data()] {
        m_pendingFile = false;
        handleVersionFile(content);
        if (!running())
            emit finished();
    });
}

void UpdateCheck::requestDone() {
    if (m_client->StatusCode() == 404)
        m_checkDone = true;
    clearStatus(); // a refused, missing or broken version file ends the look too
    // Released from its own request-done event, which the client allows.
    m_client.reset();
    m_received.reset();
    m_sizeLimit.reset();
    if (!running())
        emit finished();
}

void UpdateCheck::clearStatus() {
    if (m_statusShown && m_hooks.setStatus)
        m_hooks.setStatus(QString());
    m_statusShown = false;
}

void UpdateCheck::handleVersionFile(const QByteArray& content) {
    try {
        const QList<QByteArray> lines = SplitLines(content);
        offerNewVersion(lines);
        refreshIfPagesChanged(lines);
    } catch (const PellmarError& error) {
        showGeneralError(m_messages, error.message());
    }
}

// The three characters after "Version=" compare as bytes, so 3.10 is older than 3.2.
void UpdateCheck::offerNewVersion(const QList<QByteArray>& lines) {
    const QByteArray& first = lineAt(lines, 0);
    if (!(first.mid(8, 3) > QByteArray(kPellmarVersion)) || !first.contains("Version="))
        return;
    const MessageResult answer =
        m_messages.show(QStringLiteral("Pellmar"),
                        QStringLiteral("New version of Pellmar found. Do you want to get it now?"),
                        MessageIcon::Question, MessageButtons::YesNo);
    if (answer != MessageResult::Yes)
        return;
    const QByteArray& second = lineAt(lines, 1);
    const QByteArray page = second.mid(second.indexOf('=') + 1);
    if (!isWebPage(page)) {
        std::fprintf(stderr,
                     "Pellmar: the download page \"%s\" is not an http or https address "
                     "and is not opened\n",
                     forTerminal(page).constData());
        return;
    }
    m_shell.openWithShell(Cp1252::toUnicode(page));
}

void UpdateCheck::refreshIfPagesChanged(const QList<QByteArray>& lines) {
    const QString third = Cp1252::toUnicode(lineAt(lines, 2));
    const std::optional<int> pagesVersion = TryStrToInt(third);
    if (!pagesVersion)
        throw EConvertError(
            QStringLiteral("'%1' is not a valid integer value").arg(QuotedLine(third)));
    const int dataVersion = m_hooks.dataVersion ? m_hooks.dataVersion() : 0;
    if (*pagesVersion == dataVersion || !lineAt(lines, 0).contains("Version="))
        return;
    try {
        const QByteArray url = lineAt(lines, 3);
        if (m_hooks.refresh)
            m_hooks.refresh(url);
    } catch (const PellmarError&) {
        // A refresh that cannot start or fails says nothing: the old data file stays.
    }
}
