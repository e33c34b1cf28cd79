#include "platform/widgets/PellmarApplication.h"

#include "platform/Errors.h"
#include "platform/MessageBoxes.h"

#include <QDebug>

PellmarApplication::PellmarApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool PellmarApplication::notify(QObject* receiver, QEvent* event) {
    QString message;
    try {
        return QApplication::notify(receiver, event);
    } catch (const PellmarError& error) {
        message = error.message();
    } catch (const std::exception& error) {
        message = QString::fromLocal8Bit(error.what());
    } catch (...) {
        message = QStringLiteral("Unknown error");
    }
    if (m_boxes)
        showGeneralError(*m_boxes, message);
    else
        qWarning().noquote() << message;
    return false;
}
