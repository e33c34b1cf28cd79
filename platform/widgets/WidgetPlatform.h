#pragma once

#include "platform/Platform.h"

#include <QPointer>

class QWidget;

// The window-system versions of the platform interfaces.
// A box belongs to the active window, else to the owner; while its owner is not on the
// screen yet, the box is centred on the screen instead of on the hidden window's spot.
class WidgetMessageBoxes : public IMessageBoxes {
public:
    MessageResult show(const QString& caption, const QString& text, MessageIcon icon,
                       MessageButtons buttons) override;
    void setOwner(QObject* window) override;

private:
    QPointer<QWidget> m_owner;
};

class WidgetFileDialogs : public IFileDialogs {
public:
    std::optional<QString> saveFile(const QString& caption, const QString& initialDir,
                                    const QString& fileName, const QString& filter) override;
    std::optional<QString> saveFileCallerAsks(const QString& caption, const QString& initialDir,
                                              const QString& fileName,
                                              const QString& filter) override;
    std::optional<QString> openFile(const QString& caption, const QString& initialDir,
                                    const QString& filter) override;
    std::optional<QString> browseFolder(const QString& caption, const QString& initialDir) override;
};

class WidgetClipboard : public IClipboard {
public:
    void setText(const QString& text) override;
    QString text() const override;
};

// One of each, for the running program.
class WidgetPlatform {
public:
    WidgetPlatform();
    Platform& platform() { return m_platform; }

private:
    WidgetMessageBoxes m_messages;
    WidgetFileDialogs m_dialogs;
    PosixShell m_shell;
    WidgetClipboard m_clipboard;
    IniRegistry m_registry;
    Platform m_platform;
};
