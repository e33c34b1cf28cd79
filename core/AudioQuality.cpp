#include "core/AudioQuality.h"

QByteArray rateModeName(RateMode mode) {
    switch (mode) {
    case RateMode::Abr:
        return QByteArrayLiteral("ABR");
    case RateMode::Vbr:
        return QByteArrayLiteral("VBR");
    case RateMode::Cbr:
        break;
    }
    return QByteArrayLiteral("CBR");
}

QByteArray verdictName(Verdict verdict) {
    switch (verdict) {
    case Verdict::Genuine:
        return QByteArrayLiteral("genuine");
    case Verdict::Transcoded:
        return QByteArrayLiteral("transcoded");
    case Verdict::Unknown:
        break;
    }
    return QByteArrayLiteral("unknown");
}

RateMode rateModeFromName(const QByteArray& name) {
    if (name == "ABR")
        return RateMode::Abr;
    return name == "VBR" ? RateMode::Vbr : RateMode::Cbr;
}

Verdict verdictFromName(const QByteArray& name) {
    if (name == "genuine")
        return Verdict::Genuine;
    return name == "transcoded" ? Verdict::Transcoded : Verdict::Unknown;
}
