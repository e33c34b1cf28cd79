#include "search/HitRows.h"
#include "platform/Errors.h"
#include "platform/SettingsFile.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>

TEST(HitRows, QualityMarkAndFileInfoFollowTheSettings) {
    TempHome home;
    SettingsFile ini(home.file("Pellmar.ini"));
    const struct {
        QString needStereo, minBitrate, minFrequency;
        qint64 size;
        bool stereo;
        int rate, bitrate;
        SearchHit row;
        RateMode mode = RateMode::Cbr;
    } rows[] = {
        {"", "", "", 4000, true, 44100, 128, {"n", 0, "4000", "128kb/s 44kHz Stereo"}},
        {"", "", "", 4000, false, 44100, 128, {"n", 2, "4000", "128kb/s 44kHz Mono"}},
        {"0", "", "", 4000, false, 44100, 128, {"n", 0, "4000", "128kb/s 44kHz Mono"}},
        {"", "", "", 1, true, 32000, 160, {"n", 2, "1", "160kb/s 32kHz Stereo"}},
        {"", "", "", 0, true, 44100, 0, {"n", 1, "N/A", "N/A"}},
        {"", "", "", -5, true, 0, 128, {"n", 1, "N/A", "N/A"}},
        {"", "64", "22", 7, false, 22050, 64, {"n", 2, "7", "64kb/s 22kHz Mono"}},
        {"0", "64", "22", 7, false, 22050, 64, {"n", 0, "7", "64kb/s 22kHz Mono"}},
        {"", "320", "x", 7, true, 44100, 256, {"n", 2, "7", "256kb/s 44kHz Stereo"}},
        // ABR and VBR files are judged by their average, and say so.
        {"", "", "", 7, true, 44100, 152, {"n", 0, "7", "152kb/s VBR 44kHz Stereo"}, RateMode::Vbr},
        {"", "", "", 7, true, 44100, 60, {"n", 2, "7", "60kb/s VBR 44kHz Stereo"}, RateMode::Vbr},
        {"", "", "", 7, false, 48000, 151, {"n", 2, "7", "151kb/s ABR 48kHz Mono"}, RateMode::Abr},
    };
    for (const auto& row : rows) {
        const auto setOrRemove = [&](const char* key, const QString& value) {
            ini.writeString("Options", key, value.isEmpty() ? QString() : value);
        };
        setOrRemove("NeedStereo", row.needStereo.isEmpty() ? "1" : row.needStereo);
        setOrRemove("MinBitrate", row.minBitrate.isEmpty() ? "128" : row.minBitrate);
        setOrRemove("MinFrequency", row.minFrequency.isEmpty() ? "44" : row.minFrequency);
        EXPECT_EQ(MakeHitRow(ini, "n", row.size, row.stereo, row.rate, row.bitrate, row.mode),
                  row.row)
            << row.bitrate << " " << row.rate;
    }
}

TEST(HitRows, SettingsThatAreNotIntegersStopTheRow) {
    TempHome home;
    SettingsFile ini(home.file("Pellmar.ini"));
    ini.writeString("Options", "MinBitrate", "fast");
    try {
        MakeHitRow(ini, "n", 1, true, 44100, 128);
        FAIL() << "no error";
    } catch (const EConvertError& error) {
        EXPECT_EQ(error.message(), "'fast' is not a valid integer value");
    }
    ini.writeString("Options", "MinBitrate", "128");
    ini.writeString("Options", "MinFrequency", "44k");
    EXPECT_THROW(MakeHitRow(ini, "n", 1, true, 44100, 128), EConvertError);
}
