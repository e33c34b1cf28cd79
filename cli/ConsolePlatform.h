#pragma once

#include "platform/Clipboard.h"
#include "platform/FileDialogs.h"
#include "platform/MessageBoxes.h"
#include "platform/Platform.h"
#include "platform/Registry.h"
#include "platform/Shell.h"

// The desktop services for pellmar-cli: messages go to standard error, dialogs are
// cancelled, the clipboard is kept in memory.
class ConsolePlatform {
public:
    class Messages : public IMessageBoxes {
    public:
        MessageResult show(const QString& caption, const QString& text, MessageIcon icon,
                           MessageButtons buttons) override;
    };
    class NoDialogs : public IFileDialogs {
    public:
        std::optional<QString> saveFile(const QString&, const QString&, const QString&,
                                        const QString&) override {
            return std::nullopt;
        }
        std::optional<QString> openFile(const QString&, const QString&, const QString&) override {
            return std::nullopt;
        }
        std::optional<QString> browseFolder(const QString&, const QString&) override {
            return std::nullopt;
        }
    };
    class MemoryClipboard : public IClipboard {
    public:
        void setText(const QString& text) override { m_text = text; }
        QString text() const override { return m_text; }

    private:
        QString m_text;
    };

    Messages messages;
    NoDialogs dialogs;
    PosixShell shell;
    MemoryClipboard clipboard;
    IniRegistry registry;
    Platform platform{messages, dialogs, shell, clipboard, registry};
};
