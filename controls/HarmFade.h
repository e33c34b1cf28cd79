#pragma once

#include "platform/Errors.h"

#include <QColor>
#include <QImage>
#include <QWidget>
#include <functional>
#include <random>

// Raised when a fade is asked for with an unusable step count.
class EHarmFade : public PellmarError {
public:
    using PellmarError::PellmarError;
};

// A picture button without a window of its own that turns its resting picture into a second
// one, by a cross-fade in BlendRate steps or by a random pixel dissolve. Each transition runs
// to its end on the calling thread and repaints after every step.
//
// Pictures are images; one with an alpha channel (an icon, a drawing) is laid over the
// background colour first, an opaque one covers it.
class THarmFade : public QWidget {
    Q_OBJECT

public:
    using TNotifyEvent = std::function<void(THarmFade* Sender)>;

    explicit THarmFade(QWidget* parent = nullptr);
    ~THarmFade() override;

    TNotifyEvent OnMouseEnter;
    TNotifyEvent OnMouseLeave;
    TNotifyEvent OnBegin;
    TNotifyEvent OnEnd;
    TNotifyEvent OnReset;
    TNotifyEvent OnClick;

    const QImage& PicFrom() const { return m_picFrom; }
    const QImage& PicTo() const { return m_picTo; }
    QColor ColorFrom() const { return m_colorFrom; }
    QColor ColorTo() const { return m_colorTo; }
    int DisolvRate() const { return m_disolvRate; }
    int BlendRate() const { return m_blendRate; }
    bool StretchToFit() const { return m_stretchToFit; }
    bool ProcessMsgs() const { return m_processMsgs; }
    bool AutoReverse() const { return m_autoReverse; }
    bool SwapOnReverse() const { return m_swapOnReverse; }
    int SwapDelay() const { return m_swapDelay; }

    void setPicFrom(const QImage& picture);
    void setPicTo(const QImage& picture);
    void setColorFrom(const QColor& color);
    void setColorTo(const QColor& color);
    void setDisolvRate(int rate);
    void setBlendRate(int rate);
    void setStretchToFit(bool stretch);
    void setProcessMsgs(bool process) { m_processMsgs = process; }
    void setAutoReverse(bool reverse) { m_autoReverse = reverse; }
    void setSwapOnReverse(bool swap) { m_swapOnReverse = swap; }
    void setSwapDelay(int seconds) { m_swapDelay = seconds; }

    void FadeIn();
    void FadeOut();
    void Dissolve();
    void Reset();

    // Runs the click handler, as a click of the mouse does.
    void click();

    // What every paint shows.
    const QImage& displayImage() const { return m_display; }

    // One blend step over whole images' memory: every byte of display becomes
    // (work * (32 - weight) + target * weight) / 32, rounded down. bytes is a multiple of 4.
    static void blend(uchar* display, const uchar* work, const uchar* target, qsizetype bytes,
                      int weight);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void changed();
    void exchangeBack();
    void renderStretched(QImage& image, const QImage& picture, const QColor& background) const;
    void renderUnscaled(QImage& image, const QImage& picture, const QColor& background) const;
    void beginReverse();
    bool blendLoop();
    bool stepDone();
    void fire(const TNotifyEvent& event);

    QImage m_picFrom;
    QImage m_picTo;
    QColor m_colorFrom{0, 0, 0};
    QColor m_colorTo{255, 255, 255};
    int m_disolvRate = 125;
    int m_blendRate = 32;
    bool m_stretchToFit = true;
    bool m_processMsgs = false;
    bool m_autoReverse = false;
    bool m_swapOnReverse = true;
    int m_swapDelay = 1;

    QImage m_display;
    QImage m_target;
    QImage m_work;
    bool m_swapped = false;
    bool m_savedStretch = true;
    bool m_inReset = false;
    std::mt19937 m_random;
};
