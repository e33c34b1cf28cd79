#include "search/HitRows.h"

#include "core/UserOptions.h"

namespace {

QByteArray infoText(int bitrate, RateMode rateMode, int kHz, bool stereo) {
    const QByteArray rate = rateMode == RateMode::Cbr ? QByteArray() : rateModeName(rateMode) + ' ';
    return QByteArray::number(bitrate) + "kb/s " + rate + QByteArray::number(kHz) + "kHz " +
           (stereo ? "Stereo" : "Mono");
}

} // namespace

int HitRowMaker::qualityMark(bool stereo, int sampleRate, int bitrate) {
    if (!m_minBitrate)
        m_minBitrate = UserOptions::MinBitrate(m_ini);
    bool good = bitrate >= *m_minBitrate;
    if (good) {
        if (!m_minFrequency)
            m_minFrequency = UserOptions::MinFrequency(m_ini);
        good = sampleRate / 1000 >= *m_minFrequency;
    }
    if (good && !stereo) {
        if (!m_needStereo)
            m_needStereo = UserOptions::NeedStereo(m_ini);
        good = !*m_needStereo;
    }
    if (good)
        return qmGood;
    return bitrate != 0 && sampleRate != 0 ? qmBelow : qmUnknown;
}

SearchHit HitRowMaker::make(const QByteArray& name, qint64 size, bool stereo, int sampleRate,
                            int bitrate, RateMode rateMode) {
    SearchHit hit;
    hit.caption = name;
    hit.image = qualityMark(stereo, sampleRate, bitrate);
    hit.size = size > 0 ? QByteArray::number(size) : QByteArray("N/A");
    hit.info = hit.image == qmUnknown ? QByteArray("N/A")
                                      : infoText(bitrate, rateMode, sampleRate / 1000, stereo);
    return hit;
}

SearchHit MakeHitRow(const SettingsFile& ini, const QByteArray& name, qint64 size, bool stereo,
                     int sampleRate, int bitrate, RateMode rateMode) {
    return HitRowMaker(ini).make(name, size, stereo, sampleRate, bitrate, rateMode);
}
