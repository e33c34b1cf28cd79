#pragma once

#include <QColor>
#include <QLabel>
#include <functional>

class IClipboard;
class IShell;
class QMenu;

// A label that acts as a link: blue, underlined, with a hand cursor. A click opens URL (or
// the caption when URL is blank) with the desktop's handler; its menu copies the caption.
class TUrlLabel : public QLabel {
    Q_OBJECT

public:
    using TNotifyEvent = std::function<void(TUrlLabel* Sender)>;

    TUrlLabel(IShell& shell, IClipboard& clipboard, QWidget* parent = nullptr);

    QString URL() const { return m_url; }
    void setURL(const QString& url) { m_url = url; }
    QColor ActiveColor() const { return m_activeColor; }
    void setActiveColor(const QColor& color) { m_activeColor = color; }

    TNotifyEvent OnClick;

    // The font colour the text is drawn in now.
    QColor fontColor() const;
    QMenu* contextMenu() const { return m_menu; }

    // Runs the click: the OnClick handler, then opens the link.
    void click();
    void copyCaption();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void setFontColor(const QColor& color);

    IShell& m_shell;
    IClipboard& m_clipboard;
    QString m_url;
    QColor m_activeColor{0x80, 0x00, 0x80};
    QColor m_restColor;
    QMenu* m_menu = nullptr;
};
