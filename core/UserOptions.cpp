#include "core/UserOptions.h"

#include "platform/Errors.h"
#include "platform/SettingsFile.h"

namespace {

const QString kSection = QStringLiteral("Options");

// The keys and the defaults their readers give.
const QString kTimeLimit = QStringLiteral("TimeLimit");
constexpr int kTimeLimitDefault = 180;
const QString kMinSizeToAdd = QStringLiteral("MinSizeToAdd");
constexpr int kMinSizeToAddDefault = 30;
const QString kStallSeconds = QStringLiteral("StallSeconds");
constexpr int kStallSecondsDefault = 30;
const QString kRetryCount = QStringLiteral("RetryCount");
constexpr int kRetryCountDefault = 5;
const QString kLimit = QStringLiteral("Limit");
const QString kLimitNumber = QStringLiteral("LimitNumber");
const QString kUseGoZilla = QStringLiteral("UseGo!Zilla");
const QString kUseFtp = QStringLiteral("UseFtp");
const QString kFtpPath = QStringLiteral("FtpPath");
const QString kInitialDir = QStringLiteral("InitialDir");
const QString kMinBitrate = QStringLiteral("MinBitrate");
const QString kMinFrequency = QStringLiteral("MinFrequency");
const QString kNeedStereo = QStringLiteral("NeedStereo");
const QString kSkipId3Tags = QStringLiteral("SkipId3Tags");
const QString kHideSongsIHave = QStringLiteral("HideSongsIHave");
const QString kUseProxy = QStringLiteral("UseProxy");
const QString kProxyServer = QStringLiteral("ProxyServer");
const QString kProxyPort = QStringLiteral("ProxyPort");
const QString kProxyName = QStringLiteral("ProxyName");
const QString kProxyPass = QStringLiteral("ProxyPass");
const QString kCaFile = QStringLiteral("CaFile");

// The two text flags.
const QString kTrue = QStringLiteral("True");
const QString kFalse = QStringLiteral("False");

QString text(const SettingsFile& ini, const QString& key, const QString& defaultValue = {}) {
    return ini.readString(kSection, key, defaultValue);
}

QString textFlag(bool on) {
    return on ? kTrue : kFalse;
}

} // namespace

// ---- the dialog's whole set -----------------------------------------------------------------

UserOptions UserOptions::Load(const SettingsFile& ini) {
    const UserOptions defaults;
    UserOptions options;
    options.limit = LimitChecked(ini);
    options.limitNumber = text(ini, kLimitNumber, defaults.limitNumber);
    options.timeLimit = text(ini, kTimeLimit, defaults.timeLimit);
    options.stallSeconds = text(ini, kStallSeconds, defaults.stallSeconds);
    options.retryCount = text(ini, kRetryCount, defaults.retryCount);
    options.minSizeToAdd = QString::number(MinSizeToAdd(ini));
    options.useGoZilla = UseGoZilla(ini);
    options.minBitrate = text(ini, kMinBitrate, defaults.minBitrate);
    options.minFrequency = text(ini, kMinFrequency, defaults.minFrequency);
    options.needStereo = NeedStereo(ini);
    options.skipId3Tags = SkipId3Tags(ini);
    options.hideSongsIHave = HideSongsIHave(ini);
    options.useProxy = ProxyChecked(ini);
    options.proxyServer = ProxyServer(ini);
    options.proxyPort = ProxyPortText(ini);
    options.proxyName = ProxyName(ini);
    options.proxyPass = ProxyPass(ini);
    options.caFile = CaFile(ini);
    options.useFtp = UseFtp(ini);
    options.ftpPath = FtpPath(ini);
    return options;
}

void UserOptions::Save(SettingsFile& ini, const BannerTold& tellBanner) const {
    ini.writeBool(kSection, kNeedStereo, needStereo);
    ini.writeString(kSection, kMinBitrate, minBitrate);
    ini.writeString(kSection, kMinFrequency, minFrequency);
    ini.writeBool(kSection, kSkipId3Tags, skipId3Tags);
    ini.writeBool(kSection, kHideSongsIHave, hideSongsIHave);
    ini.writeBool(kSection, kUseGoZilla, useGoZilla);

    ini.writeInteger(kSection, kTimeLimit, StrToInt(timeLimit));
    ini.writeInteger(kSection, kMinSizeToAdd, StrToInt(minSizeToAdd));

    // With the limit off the number is not kept: "0" is written whatever was typed.
    ini.writeString(kSection, kLimit, textFlag(limit));
    ini.writeString(kSection, kLimitNumber, limit ? limitNumber : QStringLiteral("0"));

    // The proxy keys are written whether the proxy is on or not.
    ini.writeString(kSection, kUseProxy, textFlag(useProxy));
    ini.writeString(kSection, kProxyServer, proxyServer);
    ini.writeString(kSection, kProxyPort, proxyPort);
    ini.writeString(kSection, kProxyName, proxyName);
    ini.writeString(kSection, kProxyPass, proxyPass);

    // Read back, as the banner's other reader does; a port that is not a number stops here.
    const BannerProxy proxy = ProxyForBanner(ini);
    if (tellBanner) {
        std::optional<QString> host;
        if (ProxyChecked(ini))
            host = proxy.host;
        tellBanner(host, proxy.port);
    }

    ini.writeBool(kSection, kUseFtp, useFtp);
    ini.writeString(kSection, kFtpPath, ftpPath);

    ini.writeInteger(kSection, kStallSeconds, StrToInt(stallSeconds));
    ini.writeInteger(kSection, kRetryCount, StrToInt(retryCount));
    ini.writeString(kSection, kCaFile, caFile);
}

// ---- one option at the moment of use --------------------------------------------------------

int UserOptions::TimeLimit(const SettingsFile& ini) {
    return ini.readInteger(kSection, kTimeLimit, kTimeLimitDefault);
}

int UserOptions::MinSizeToAdd(const SettingsFile& ini) {
    return ini.readInteger(kSection, kMinSizeToAdd, kMinSizeToAddDefault);
}

int UserOptions::StallSeconds(const SettingsFile& ini) {
    const int value = ini.readInteger(kSection, kStallSeconds, kStallSecondsDefault);
    return value < 0 ? kStallSecondsDefault : value;
}

int UserOptions::RetryCount(const SettingsFile& ini) {
    const int value = ini.readInteger(kSection, kRetryCount, kRetryCountDefault);
    return value < 0 ? kRetryCountDefault : value;
}

bool UserOptions::LimitApplies(const SettingsFile& ini) {
    return text(ini, kLimit, kFalse) != kFalse;
}

bool UserOptions::LimitChecked(const SettingsFile& ini) {
    return text(ini, kLimit, kFalse) == kTrue;
}

int UserOptions::LimitNumber(const SettingsFile& ini) {
    return StrToInt(text(ini, kLimitNumber, UserOptions().limitNumber));
}

bool UserOptions::UseGoZilla(const SettingsFile& ini) {
    return ini.readBool(kSection, kUseGoZilla, false);
}

bool UserOptions::UseFtp(const SettingsFile& ini) {
    return ini.readBool(kSection, kUseFtp, false);
}

QString UserOptions::FtpPath(const SettingsFile& ini) {
    return text(ini, kFtpPath);
}

QString UserOptions::InitialDir(const SettingsFile& ini) {
    return text(ini, kInitialDir);
}

int UserOptions::MinBitrate(const SettingsFile& ini) {
    return StrToInt(text(ini, kMinBitrate, UserOptions().minBitrate));
}

int UserOptions::MinFrequency(const SettingsFile& ini) {
    return StrToInt(text(ini, kMinFrequency, UserOptions().minFrequency));
}

bool UserOptions::NeedStereo(const SettingsFile& ini) {
    return ini.readBool(kSection, kNeedStereo, true);
}

bool UserOptions::SkipId3Tags(const SettingsFile& ini) {
    return ini.readBool(kSection, kSkipId3Tags, true);
}

bool UserOptions::HideSongsIHave(const SettingsFile& ini) {
    return ini.readBool(kSection, kHideSongsIHave, false);
}

bool UserOptions::ProxyForRequests(const SettingsFile& ini) {
    return text(ini, kUseProxy, kFalse) != kFalse && TryStrToInt(ProxyPortText(ini)).has_value();
}

bool UserOptions::ProxyChecked(const SettingsFile& ini) {
    return text(ini, kUseProxy, kFalse) == kTrue;
}

QString UserOptions::ProxyServer(const SettingsFile& ini) {
    return text(ini, kProxyServer);
}

QString UserOptions::ProxyPortText(const SettingsFile& ini) {
    return text(ini, kProxyPort, UserOptions().proxyPort);
}

QString UserOptions::ProxyName(const SettingsFile& ini) {
    return text(ini, kProxyName);
}

QString UserOptions::ProxyPass(const SettingsFile& ini) {
    return text(ini, kProxyPass);
}

QString UserOptions::CaFile(const SettingsFile& ini) {
    return text(ini, kCaFile);
}

UserOptions::BannerProxy UserOptions::ProxyForBanner(const SettingsFile& ini) {
    if (!ProxyChecked(ini))
        return {};
    return {ProxyServer(ini), StrToInt(ProxyPortText(ini))};
}

UserOptions::StartupProxy UserOptions::ProxyForBannerAtStart(const SettingsFile& ini) {
    if (!ProxyChecked(ini))
        return {};
    const std::optional<int> port = TryStrToInt(ProxyPortText(ini));
    if (!port)
        return {std::nullopt, 80, true};
    return {ProxyServer(ini), *port, false};
}
