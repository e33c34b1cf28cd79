#include "app/MainForm.h"
#include "platform/ResourceLimits.h"
#include "platform/widgets/PellmarApplication.h"
#include "platform/widgets/TerminationHandler.h"
#include "platform/widgets/WidgetPlatform.h"

int main(int argc, char** argv) {
    PellmarApplication app(argc, argv);
    RaiseFileDescriptorLimit();
    QCoreApplication::setApplicationName(QStringLiteral("Pellmar"));
    WidgetPlatform desktop;
    app.setMessageBoxes(&desktop.platform().messages);

    TMainForm form(desktop.platform());
    closeOnTerminationSignals(&form);
    form.show();
    return app.exec();
}
