#pragma once

#include "core/AudioQuality.h"

#include <QByteArray>
#include <optional>

class SettingsFile;

// The quality mark of a hit, the index of its picture in the hit list.
enum QualityMark { qmGood = 0, qmUnknown = 1, qmBelow = 2 };

// One row of the hit list: caption, quality mark, "Size" and "File Info".
struct SearchHit {
    QByteArray caption;
    int image = qmUnknown;
    QByteArray size;
    QByteArray info;

    bool operator==(const SearchHit&) const = default;
};

// Makes hit rows with the quality settings read once for all the rows it makes, each
// setting when first needed: a batch of rows sees the same settings as rows made one by
// one, without reading the file for every row.
class HitRowMaker {
public:
    explicit HitRowMaker(const SettingsFile& ini) : m_ini(ini) {}
    // bitrate: the frames' own for CBR, the average for ABR and VBR, which "MinBitrate"
    // judges alike; "File Info" names a variable rate ("152kb/s VBR 44kHz Stereo").
    SearchHit make(const QByteArray& name, qint64 size, bool stereo, int sampleRate, int bitrate,
                   RateMode rateMode = RateMode::Cbr);

private:
    int qualityMark(bool stereo, int sampleRate, int bitrate);

    const SettingsFile& m_ini;
    std::optional<int> m_minBitrate;
    std::optional<int> m_minFrequency;
    std::optional<bool> m_needStereo;
};

// The row of a hit. The quality settings are read at every call: the mark is good when
// the bitrate and the sample rate reach "MinBitrate" and "MinFrequency" and the file is
// stereo or "NeedStereo" is off, unknown when the bitrate or the rate is 0 ("File Info"
// then "N/A"), below otherwise. "Size" is "N/A" for 0 bytes or less. Throws EConvertError
// when "MinBitrate" or (when it is read) "MinFrequency" is not an integer.
SearchHit MakeHitRow(const SettingsFile& ini, const QByteArray& name, qint64 size, bool stereo,
                     int sampleRate, int bitrate, RateMode rateMode = RateMode::Cbr);
