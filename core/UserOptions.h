#pragma once

#include <QString>
#include <functional>
#include <optional>

class SettingsFile;

// The user's options of section "Options": every key the options dialog edits and the
// download folder, each with its default, its encoding and the order the dialog writes them
// in, here once. The main window's own keys there (the sources, "FirstTime") and section
// "WinPos" belong to ProgramSession.
//
// The static readers read one option at the moment of use with the default its reader gives.
// "Limit" and "UseProxy" are compared as exact text, and not every reader tests the same
// text: a value that is neither "True" nor "False" counts as on for the requests and the
// download limit but as off for the options dialog and the ad banner.
//
// A value of the class holds what the options dialog shows and edits: Load reads all of it,
// Save writes it back. Numbers are kept as typed; Save converts the ones stored as integers.
class UserOptions {
public:
    QString timeLimit = QStringLiteral("180");   // seconds
    QString minSizeToAdd = QStringLiteral("30"); // kilobytes
    bool useGoZilla = false;
    bool useFtp = false; // an external FTP client instead of the program's own
    QString ftpPath;
    bool limit = false;
    QString limitNumber = QStringLiteral("0"); // stored as typed
    QString stallSeconds = QStringLiteral("30");
    QString retryCount = QStringLiteral("5");
    bool useProxy = false;
    QString proxyServer;
    QString proxyPort = QStringLiteral("80"); // stored as typed
    QString proxyName;
    QString proxyPass;
    QString caFile; // a private CA for https, besides the system's trust store
    QString minBitrate = QStringLiteral("128");  // stored as typed
    QString minFrequency = QStringLiteral("44"); // stored as typed
    bool needStereo = true;
    bool skipId3Tags = true;
    // Leave out the hits whose song the user's library holds at the same or better quality
    // (only our own search service knows them).
    bool hideSongsIHave = false;

    static UserOptions Load(const SettingsFile& ini);

    // What the ad banner is told after a save: a host or none, and a port.
    using BannerTold = std::function<void(const std::optional<QString>& host, int port)>;
    // Writes every key in a fixed order, each at once. A number that is not one stops the
    // save there with the conversion error; the keys before it stay written. After the proxy
    // keys the banner is told the proxy read back (see ProxyForBanner), when tellBanner is
    // given.
    void Save(SettingsFile& ini, const BannerTold& tellBanner = {}) const;

    static int TimeLimit(const SettingsFile& ini);    // seconds, 180
    static int MinSizeToAdd(const SettingsFile& ini); // kilobytes, 30
    // Internal downloads: seconds without data before a try is given up (30; 0 never), and
    // how often a broken transfer is tried again (5; 0 never). A negative or non-numeric
    // value counts as the default.
    static int StallSeconds(const SettingsFile& ini);
    static int RetryCount(const SettingsFile& ini);

    static bool LimitApplies(const SettingsFile& ini); // download start: anything but "False"
    static bool LimitChecked(const SettingsFile& ini); // options dialog: exactly "True"
    static int LimitNumber(const SettingsFile& ini);   // strict: throws EConvertError

    static bool UseGoZilla(const SettingsFile& ini);
    static bool UseFtp(const SettingsFile& ini);
    static QString FtpPath(const SettingsFile& ini);
    static QString InitialDir(const SettingsFile& ini);

    static int MinBitrate(const SettingsFile& ini);   // kbit/s, strict, "128"
    static int MinFrequency(const SettingsFile& ini); // kHz, strict, "44"
    static bool NeedStereo(const SettingsFile& ini);
    // The frame-header reader looks past an ID3v2 tag at the start of a file (flag, on).
    static bool SkipId3Tags(const SettingsFile& ini);
    static bool HideSongsIHave(const SettingsFile& ini); // false

    // Anything but "False", with a port that is an integer: a mistyped port means no proxy.
    static bool ProxyForRequests(const SettingsFile& ini);
    static bool ProxyChecked(const SettingsFile& ini); // exactly "True"
    static QString ProxyServer(const SettingsFile& ini);
    static QString ProxyPortText(const SettingsFile& ini); // "80"
    static QString ProxyName(const SettingsFile& ini);
    static QString ProxyPass(const SettingsFile& ini);
    // "CaFile": a PEM file of CA certificates trusted for https besides the system's.
    static QString CaFile(const SettingsFile& ini);

    // What the ad banner is told: the server and the strictly converted port while the proxy
    // is exactly "True", otherwise no host and port 80.
    struct BannerProxy {
        QString host;
        int port = 80;
    };
    static BannerProxy ProxyForBanner(const SettingsFile& ini);

    // What the banner is told at start: no host unless the proxy is exactly "True". A port
    // that is not an integer means no proxy instead of a failed start; portRefused asks the
    // caller to say so once.
    struct StartupProxy {
        std::optional<QString> host;
        int port = 80;
        bool portRefused = false;
    };
    static StartupProxy ProxyForBannerAtStart(const SettingsFile& ini);
};
