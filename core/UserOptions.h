#pragma once

#include <QString>
#include <optional>

class SettingsFile;

// The user's options of section "Options", read at the moment of use with the default each
// reader gives. "Limit" and "UseProxy" are compared as exact text, and not every reader
// tests the same text: a value that is neither "True" nor "False" counts as on for the
// requests and the download limit but as off for the options dialog and the ad banner.
namespace UserOptions {

int TimeLimit(const SettingsFile& ini);    // seconds, 180
int MinSizeToAdd(const SettingsFile& ini); // kilobytes, 30
// Internal downloads: seconds without data before a try is given up (30; 0 never), and how
// often a broken transfer is tried again (5; 0 never). A negative or non-numeric value
// counts as the default.
int StallSeconds(const SettingsFile& ini);
int RetryCount(const SettingsFile& ini);

bool LimitApplies(const SettingsFile& ini); // download start: anything but "False"
bool LimitChecked(const SettingsFile& ini); // options dialog: exactly "True"
int LimitNumber(const SettingsFile& ini);   // strict: throws EConvertError

bool UseGoZilla(const SettingsFile& ini);
bool UseFtp(const SettingsFile& ini);
QString FtpPath(const SettingsFile& ini);
QString InitialDir(const SettingsFile& ini);

int MinBitrate(const SettingsFile& ini);   // kbit/s, strict, "128"
int MinFrequency(const SettingsFile& ini); // kHz, strict, "44"
bool NeedStereo(const SettingsFile& ini);
// The frame-header reader looks past an ID3v2 tag at the start of a file (flag, on).
bool SkipId3Tags(const SettingsFile& ini);

// Anything but "False", with a port that is an integer: a mistyped port means no proxy.
bool ProxyForRequests(const SettingsFile& ini);
bool ProxyChecked(const SettingsFile& ini); // exactly "True"
QString ProxyServer(const SettingsFile& ini);
QString ProxyPortText(const SettingsFile& ini); // "80"
QString ProxyName(const SettingsFile& ini);
QString ProxyPass(const SettingsFile& ini);

// What the ad banner is told: the server and the strictly converted port while the proxy
// is exactly "True", otherwise no host and port 80.
struct BannerProxy {
    QString host;
    int port = 80;
};
BannerProxy ProxyForBanner(const SettingsFile& ini);

// What the banner is told at start: no host unless the proxy is exactly "True". A port that
// is not an integer means no proxy instead of a failed start; portRefused asks the caller to
// say so once.
struct StartupProxy {
    std::optional<QString> host;
    int port = 80;
    bool portRefused = false;
};
StartupProxy ProxyForBannerAtStart(const SettingsFile& ini);

} // namespace UserOptions
