#include "app/GetNewPagesVersion.h"
#include "app/MainForm.h"
#include "platform/ProgramFolder.h"
#include "platform/ResourceLimits.h"
#include "platform/widgets/PellmarApplication.h"
#include "platform/widgets/TerminationHandler.h"
#include "platform/widgets/WidgetPlatform.h"
#include "service/DdeService.h"
#include "service/UpdateCheck.h"

#include <QDBusConnection>

#include <QFileInfo>
#include <QIcon>
#include <QLabel>
#include <QTimer>

namespace {

// The check reads the window's data file and status line and runs the refresh window
// modally when the service's pages have changed.
void startUpdateCheck(TMainForm& form, UpdateCheck& check, TGetNewPagesVersion& refresh) {
    UpdateCheck::Hooks hooks;
    hooks.homeUrl = form.dataFile().HomeUrl;
    hooks.dataVersion = [&form] { return form.dataFile().DataVersion; };
    hooks.setStatus = [&form](const QString& text) { form.SearchStatus->setText(text); };
    hooks.refresh = [&refresh](const QByteArray& url) {
        refresh.setUrl(url);
        refresh.exec();
    };
    check.StartCheck(hooks);
}

} // namespace

int main(int argc, char** argv) {
    PellmarApplication app(argc, argv);
    RaiseFileDescriptorLimit();
    QCoreApplication::setApplicationName(QStringLiteral("Pellmar"));
    // The menu entry and icon of an installed program.
    QGuiApplication::setDesktopFileName(QStringLiteral("net.pellmar.Pellmar"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("net.pellmar.Pellmar")));
    WidgetPlatform desktop;
    app.setMessageBoxes(&desktop.platform().messages);

    // Nothing is said about the program folder unless it cannot be set up; without a
    // folder it may write, the program could keep none of the user's settings.
    const QString problem = ProgramFolder::prepare();
    if (!problem.isEmpty()) {
        desktop.platform().messages.show(QStringLiteral("Pellmar"), problem, MessageIcon::Error,
                                         MessageButtons::Ok);
        if (!QFileInfo(ProgramFolder::path()).isWritable())
            return 1;
    }

    // The window asks for the check while it is being created; the check starts from the
    // event loop, once the window and the refresh window exist.
    TMainForm* window = nullptr;
    TGetNewPagesVersion* refresh = nullptr; // both owned by the window
    UpdateCheck* check = nullptr;
    TMainForm::Options options;
    options.startUpdateCheck = [&] {
        QTimer::singleShot(0, &app, [&] {
            if (window && check)
                startUpdateCheck(*window, *check, *refresh);
        });
    };

    TMainForm form(desktop.platform(), options);
    window = &form;
    refresh = new TGetNewPagesVersion(
        form.settings(), ProgramFolder::file(QStringLiteral("Pellmar.dat")),
        [&form] { form.LoadDataFile(); }, &form);
    check = new UpdateCheck(form.settings(), desktop.platform().messages, desktop.platform().shell,
                            &form);
    // Scripts reach the shared item on the session bus; without a bus the program runs on.
    QDBusConnection bus = QDBusConnection::sessionBus();
    (new DdeService(&form))
        ->registerOn(bus, DdeService::busNameFor(QCoreApplication::applicationFilePath()));
    closeOnTerminationSignals(&form);
    form.show();
    return app.exec();
}
