#include "core/UserOptions.h"

#include "platform/Errors.h"
#include "platform/SettingsFile.h"

namespace UserOptions {

namespace {

const QString kSection = QStringLiteral("Options");

QString text(const SettingsFile& ini, const char* key, const char* defaultValue) {
    return ini.readString(kSection, QLatin1String(key), QLatin1String(defaultValue));
}

} // namespace

int TimeLimit(const SettingsFile& ini) {
    return ini.readInteger(kSection, QStringLiteral("TimeLimit"), 180);
}

int MinSizeToAdd(const SettingsFile& ini) {
    return ini.readInteger(kSection, QStringLiteral("MinSizeToAdd"), 30);
}

int StallSeconds(const SettingsFile& ini) {
    const int value = ini.readInteger(kSection, QStringLiteral("StallSeconds"), 30);
    return value < 0 ? 30 : value;
}

int RetryCount(const SettingsFile& ini) {
    const int value = ini.readInteger(kSection, QStringLiteral("RetryCount"), 5);
    return value < 0 ? 5 : value;
}

bool LimitApplies(const SettingsFile& ini) {
    return text(ini, "Limit", "False") != QLatin1String("False");
}

bool LimitChecked(const SettingsFile& ini) {
    return text(ini, "Limit", "False") == QLatin1String("True");
}

int LimitNumber(const SettingsFile& ini) {
    return StrToInt(text(ini, "LimitNumber", "0"));
}

bool UseGoZilla(const SettingsFile& ini) {
    return ini.readBool(kSection, QStringLiteral("UseGo!Zilla"), false);
}

bool UseFtp(const SettingsFile& ini) {
    return ini.readBool(kSection, QStringLiteral("UseFtp"), false);
}

QString FtpPath(const SettingsFile& ini) {
    return text(ini, "FtpPath", "");
}

QString InitialDir(const SettingsFile& ini) {
    return text(ini, "InitialDir", "");
}

int MinBitrate(const SettingsFile& ini) {
    return StrToInt(text(ini, "MinBitrate", "128"));
}

int MinFrequency(const SettingsFile& ini) {
    return StrToInt(text(ini, "MinFrequency", "44"));
}

bool NeedStereo(const SettingsFile& ini) {
    return ini.readBool(kSection, QStringLiteral("NeedStereo"), true);
}

bool SkipId3Tags(const SettingsFile& ini) {
    return ini.readBool(kSection, QStringLiteral("SkipId3Tags"), true);
}

bool ProxyForRequests(const SettingsFile& ini) {
    return text(ini, "UseProxy", "False") != QLatin1String("False") &&
           TryStrToInt(ProxyPortText(ini)).has_value();
}

bool ProxyChecked(const SettingsFile& ini) {
    return text(ini, "UseProxy", "False") == QLatin1String("True");
}

QString ProxyServer(const SettingsFile& ini) {
    return text(ini, "ProxyServer", "");
}

QString ProxyPortText(const SettingsFile& ini) {
    return text(ini, "ProxyPort", "80");
}

QString ProxyName(const SettingsFile& ini) {
    return text(ini, "ProxyName", "");
}

QString ProxyPass(const SettingsFile& ini) {
    return text(ini, "ProxyPass", "");
}

BannerProxy ProxyForBanner(const SettingsFile& ini) {
    if (!ProxyChecked(ini))
        return {};
    return {ProxyServer(ini), StrToInt(ProxyPortText(ini))};
}

StartupProxy ProxyForBannerAtStart(const SettingsFile& ini) {
    if (!ProxyChecked(ini))
        return {};
    const std::optional<int> port = TryStrToInt(ProxyPortText(ini));
    if (!port)
        return {std::nullopt, 80, true};
    return {ProxyServer(ini), *port, false};
}

} // namespace UserOptions
