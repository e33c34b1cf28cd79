#include "app/MainForm.h"
#include "platform/ProgramFolder.h"
#include "platform/ResourceLimits.h"
#include "platform/widgets/PellmarApplication.h"
#include "platform/widgets/TerminationHandler.h"
#include "platform/widgets/WidgetPlatform.h"

#include <QFileInfo>
#include <QIcon>

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

    TMainForm form(desktop.platform());
    closeOnTerminationSignals(&form);
    form.show();
    return app.exec();
}
