#pragma once

#include <QString>

class QObject;

enum class MessageIcon { None, Information, Warning, Question, Error };
enum class MessageButtons { Ok, OkCancel, YesNo, YesNoCancel };
enum class MessageResult { Ok, Cancel, Yes, No };

// Modal message boxes. The window-system version shows a QMessageBox; tests record the
// caption, text, icon and buttons and answer from a script.
class IMessageBoxes {
public:
    virtual ~IMessageBoxes() = default;
    virtual MessageResult show(const QString& caption, const QString& text, MessageIcon icon,
                               MessageButtons buttons) = 0;
    // The window that owns boxes shown while no window is active, as while the main window
    // is being created and not yet on the screen.
    // Boxes that cannot be placed (recording doubles) ignore it.
    virtual void setOwner(QObject* window) { (void)window; }
};

// The application's general error box: the message of an error that escaped a handler.
// The caption is the program's title; the program goes on afterwards.
void showGeneralError(IMessageBoxes& boxes, const QString& message);
