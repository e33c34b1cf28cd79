#pragma once

#include "platform/AdvertLibrary.h"

#include <QImage>
#include <QWidget>
#include <functional>
#include <optional>
#include <set>

enum TAdImageSize {
    ads150x40,
    ADS468x60,
    ads300x50,
    ads70x70,
    ads50x200,
    ADS392x72,
    ADS234x60,
    ADS125x125,
    ADS120x90,
    ADS120x60,
    ADS88x31,
    ADS120x240
};

enum TAdOption { adoNoConnect, adoNoDialOnDemand, adoDelayedStartup, adoAll };
using TAdOptionSet = std::set<TAdOption>;

// The advertising banner: a control drawn by the ad library "advert.dll" of the program
// folder (AdvertLibrary loads and calls it). The control keeps the library's properties,
// starts it with them, forwards paint and click to it and relays its notices as events.
class TAdImage : public QWidget {
    Q_OBJECT

public:
    using TCallbackEvent = std::function<void(TAdImage* Sender)>;

    explicit TAdImage(IMessageBoxes& messages, QWidget* parent = nullptr);
    ~TAdImage() override;

    // Called once the properties are set: starts the library when AutoLoad is on.
    void Loaded();
    bool Start();
    // Tells a started library the proxy: a host (at most 1024 characters) or none.
    bool SetProxy(const std::optional<QByteArray>& host, int port, const QByteArray& empty);

    bool AutoLoad() const { return m_autoLoad; }
    void setAutoLoad(bool autoLoad) { m_autoLoad = autoLoad; }
    TAdOptionSet Options() const;
    void setOptions(const TAdOptionSet& options);
    quint32 optionWord() const { return m_optionWord; }
    int ProgramID() const { return m_programId; }
    void setProgramID(int id) { m_programId = id; }
    int BandwidthThrottle() const { return m_bandwidthThrottle; }
    void setBandwidthThrottle(int throttle);
    int MinimumAdDisplayTime() const { return m_minimumAdDisplayTime; }
    void setMinimumAdDisplayTime(int milliseconds);
    bool NetworkIsUp() const;
    void setNetworkIsUp(bool up);
    TAdImageSize Size() const { return m_size; }
    void setSize(TAdImageSize size);

    bool started() const { return m_library.started(); }

    TCallbackEvent OnNetworkRequest;
    TCallbackEvent OnAdCounted;
    TCallbackEvent OnClick;

    // Runs a click: the OnClick handler first, then the library's.
    void click();

    static QSize pixels(TAdImageSize size);
    // The standard size a requested width and height snap to.
    static TAdImageSize nearestSize(int width, int height);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void fire(const TCallbackEvent& event);

    AdvertLibrary m_library;
    bool m_autoLoad = true;
    quint32 m_optionWord = 0;
    int m_programId = 0;
    int m_bandwidthThrottle = 2147483647;
    int m_minimumAdDisplayTime = 0;
    TAdImageSize m_size = ADS468x60;
    QImage m_surface;
};
