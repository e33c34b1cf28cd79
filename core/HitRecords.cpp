#include "core/HitRecords.h"

#include <algorithm>

namespace HitRecords {

QByteArray Field(const QByteArray& line, int index) {
    qsizetype start = 0;
    for (int i = 0; i < index; ++i) {
        start = line.indexOf('\t', start);
        if (start < 0)
            return {};
        ++start;
    }
    const qsizetype end = line.indexOf('\t', start);
    return line.mid(start, end < 0 ? -1 : end - start);
}

QByteArray AfterTabs(const QByteArray& line, int count) {
    qsizetype at = -1;
    for (int i = 0; i < count; ++i) {
        at = line.indexOf('\t', at + 1);
        if (at < 0)
            return {};
    }
    return line.mid(at + 1);
}

namespace {

bool isSeparator(char c) {
    return c == '\t' || c == '\r' || c == '\n';
}

} // namespace

QByteArray FieldText(const QByteArray& text) {
    QByteArray field = text;
    std::replace_if(field.begin(), field.end(), isSeparator, ' ');
    return field;
}

QByteArray FieldUrl(const QByteArray& url) {
    if (std::none_of(url.begin(), url.end(), isSeparator))
        return url;
    QByteArray field;
    for (const char c : url)
        field += isSeparator(c) ? '%' + QByteArray(1, c).toHex().toUpper() : QByteArray(1, c);
    return field;
}

} // namespace HitRecords

HttpHitRecord HttpHitRecord::fromLine(const QByteArray& line) {
    using HitRecords::Field;
    HttpHitRecord record;
    record.name = Field(line, 0);
    record.url = Field(line, 1);
    record.size = Field(line, 2).toLongLong();
    record.bitrate = Field(line, 3).toInt();
    record.sampleRate = Field(line, 4).toInt();
    record.stereo = HitRecords::AfterTabs(line, 5).toLower().contains("stereo");
    record.rateMode = rateModeFromName(Field(line, 6));
    return record;
}

QByteArray HttpHitRecord::line() const {
    return name + '\t' + url + '\t' + QByteArray::number(size) + '\t' +
           QByteArray::number(bitrate) + '\t' + QByteArray::number(sampleRate) + '\t' +
           (stereo ? "Stereo" : "Mono") +
           (rateMode == RateMode::Cbr ? QByteArray() : '\t' + rateModeName(rateMode));
}

ListingRecord ListingRecord::fromLine(const QByteArray& line) {
    using HitRecords::Field;
    return {Field(line, 0), Field(line, 1), Field(line, 2), HitRecords::AfterTabs(line, 3)};
}

QByteArray ListingRecord::line() const {
    return host + '\t' + folder + '\t' + name + '\t' + rest;
}

QByteArray ListingRecord::sizeText() const {
    return HitRecords::Field(rest, 0);
}
