#pragma once

#include <QWidget>

class IClipboard;
class IShell;
class TUrlLabel;

// The page shown after a click on the ad banner: thanks, and the makers' own site.
class TBannerClickPage : public QWidget {
    Q_OBJECT

public:
    TBannerClickPage(IShell& shell, IClipboard& clipboard, QWidget* parent = nullptr);

    TUrlLabel* MakerLabel = nullptr;
};
