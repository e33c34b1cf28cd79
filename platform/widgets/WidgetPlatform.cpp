#include "platform/widgets/WidgetPlatform.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QScreen>
#include <memory>

namespace {

QMessageBox::Icon toQtIcon(MessageIcon icon) {
    switch (icon) {
    case MessageIcon::Information:
        return QMessageBox::Information;
    case MessageIcon::Warning:
        return QMessageBox::Warning;
    case MessageIcon::Question:
        return QMessageBox::Question;
    case MessageIcon::Error:
        return QMessageBox::Critical;
    case MessageIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

QMessageBox::StandardButtons toQtButtons(MessageButtons buttons) {
    switch (buttons) {
    case MessageButtons::Ok:
        return QMessageBox::Ok;
    case MessageButtons::OkCancel:
        return QMessageBox::Ok | QMessageBox::Cancel;
    case MessageButtons::YesNo:
        return QMessageBox::Yes | QMessageBox::No;
    case MessageButtons::YesNoCancel:
        return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    }
    return QMessageBox::Ok;
}

MessageResult fromQt(int button) {
    switch (button) {
    case QMessageBox::Yes:
        return MessageResult::Yes;
    case QMessageBox::No:
        return MessageResult::No;
    case QMessageBox::Cancel:
        return MessageResult::Cancel;
    default:
        return MessageResult::Ok;
    }
}

// A message box centred on its screen once its size is known, just before it appears.
class ScreenCentredBox : public QMessageBox {
public:
    using QMessageBox::QMessageBox;

protected:
    void showEvent(QShowEvent* event) override {
        QMessageBox::showEvent(event);
        const QScreen* screen = parentWidget() ? parentWidget()->screen() : this->screen();
        if (screen)
            move(screen->availableGeometry().center() - rect().center());
    }
};

std::optional<QString> chosen(const QString& path) {
    if (path.isEmpty())
        return std::nullopt;
    return QDir::toNativeSeparators(path);
}

} // namespace

MessageResult WidgetMessageBoxes::show(const QString& caption, const QString& text,
                                       MessageIcon icon, MessageButtons buttons) {
    QWidget* parent = QApplication::activeWindow();
    if (!parent)
        parent = m_owner;
    std::unique_ptr<QMessageBox> box;
    if (parent && parent->isVisible())
        box = std::make_unique<QMessageBox>(toQtIcon(icon), caption, text, toQtButtons(buttons),
                                            parent);
    else
        box = std::make_unique<ScreenCentredBox>(toQtIcon(icon), caption, text,
                                                 toQtButtons(buttons), parent);
    const int answer = box->exec();
    if (buttons == MessageButtons::YesNo && answer != QMessageBox::Yes)
        return MessageResult::No;
    return fromQt(answer);
}

void WidgetMessageBoxes::setOwner(QObject* window) {
    m_owner = qobject_cast<QWidget*>(window);
}

std::optional<QString> WidgetFileDialogs::saveFile(const QString& caption,
                                                   const QString& initialDir,
                                                   const QString& fileName, const QString& filter) {
    const QString start = initialDir.isEmpty() ? fileName : QDir(initialDir).filePath(fileName);
    return chosen(
        QFileDialog::getSaveFileName(QApplication::activeWindow(), caption, start, filter));
}

std::optional<QString> WidgetFileDialogs::saveFileCallerAsks(const QString& caption,
                                                             const QString& initialDir,
                                                             const QString& fileName,
                                                             const QString& filter) {
    const QString start = initialDir.isEmpty() ? fileName : QDir(initialDir).filePath(fileName);
    return chosen(QFileDialog::getSaveFileName(QApplication::activeWindow(), caption, start, filter,
                                               nullptr, QFileDialog::DontConfirmOverwrite));
}

std::optional<QString> WidgetFileDialogs::openFile(const QString& caption,
                                                   const QString& initialDir,
                                                   const QString& filter) {
    return chosen(
        QFileDialog::getOpenFileName(QApplication::activeWindow(), caption, initialDir, filter));
}

std::optional<QString> WidgetFileDialogs::browseFolder(const QString& caption,
                                                       const QString& initialDir) {
    return chosen(
        QFileDialog::getExistingDirectory(QApplication::activeWindow(), caption, initialDir));
}

void WidgetClipboard::setText(const QString& text) {
    QApplication::clipboard()->setText(text);
}

QString WidgetClipboard::text() const {
    return QApplication::clipboard()->text();
}

WidgetPlatform::WidgetPlatform()
    : m_platform{m_messages, m_dialogs, m_shell, m_clipboard, m_registry} {}
