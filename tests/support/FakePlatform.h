#pragma once

#include "platform/Platform.h"

#include <QList>
#include <QMap>
#include <QPair>
#include <QString>
#include <QStringList>

// Recording doubles of the platform interfaces. Tests read what was asked and script the
// answers.
struct RecordedMessage {
    QString caption;
    QString text;
    MessageIcon icon;
    MessageButtons buttons;
};

class FakeMessageBoxes : public IMessageBoxes {
public:
    MessageResult show(const QString& caption, const QString& text, MessageIcon icon,
                       MessageButtons buttons) override {
        shown.append({caption, text, icon, buttons});
        if (!answers.isEmpty())
            return answers.takeFirst();
        return buttons == MessageButtons::YesNo ? MessageResult::No : MessageResult::Ok;
    }
    void setOwner(QObject* window) override { owner = window; }
    QList<RecordedMessage> shown;
    QObject* owner = nullptr;
    QList<MessageResult> answers;
};

class FakeFileDialogs : public IFileDialogs {
public:
    std::optional<QString> saveFile(const QString& caption, const QString& initialDir,
                                    const QString& fileName, const QString&) override {
        calls.append(QStringList{QStringLiteral("save"), caption, initialDir, fileName});
        return next();
    }
    std::optional<QString> openFile(const QString& caption, const QString& initialDir,
                                    const QString&) override {
        calls.append(QStringList{QStringLiteral("open"), caption, initialDir});
        return next();
    }
    std::optional<QString> browseFolder(const QString& caption,
                                        const QString& initialDir) override {
        calls.append(QStringList{QStringLiteral("folder"), caption, initialDir});
        return next();
    }
    QList<QStringList> calls;
    QList<std::optional<QString>> answers;

private:
    std::optional<QString> next() { return answers.isEmpty() ? std::nullopt : answers.takeFirst(); }
};

class FakeShell : public IShell {
public:
    void openWithShell(const QString& target) override { opened.append(target); }
    bool launch(const QString& program, const QStringList& args) override {
        launched.append({program, args});
        return launchSucceeds;
    }
    // Recorded with the launches; a test ends the program with end().
    void launchWatched(const QString& program, const QStringList& args,
                       ProgramEnded ended) override {
        launched.append({program, args});
        watchers.append(std::move(ended));
    }
    void end(qsizetype watched, const ProgramEnd& how) { watchers.at(watched)(how); }
    QStringList opened;
    QList<QPair<QString, QStringList>> launched;
    QList<ProgramEnded> watchers;
    bool launchSucceeds = true;
};

class FakeClipboard : public IClipboard {
public:
    void setText(const QString& text) override { content = text; }
    QString text() const override { return content; }
    QString content;
};

class FakeRegistry : public IRegistry {
public:
    void setValue(const QString& key, const QString& name, const QString& value) override {
        values[key + QLatin1Char('|') + name] = value;
    }
    QString value(const QString& key, const QString& name) const override {
        return values.value(key + QLatin1Char('|') + name);
    }
    QMap<QString, QString> values;
};

class FakePlatform {
public:
    FakeMessageBoxes messages;
    FakeFileDialogs dialogs;
    FakeShell shell;
    FakeClipboard clipboard;
    FakeRegistry registry;
    Platform platform{messages, dialogs, shell, clipboard, registry};
};
