#pragma once

#include "core/AudioQuality.h"

#include <QByteArray>

// The lines of the three hit stores: fields joined by one TAB.
namespace HitRecords {

// The field at index (from 0); empty when the line has fewer fields.
QByteArray Field(const QByteArray& line, int index);

// Everything after the count-th TAB; empty when the line has fewer TABs.
QByteArray AfterTabs(const QByteArray& line, int count);

// Text from the network made fit for a field: a TAB, CR or LF would end the field or the
// line, so each becomes a blank.
QByteArray FieldText(const QByteArray& text);

// A URL from the network made fit for a field: a TAB, CR or LF is percent-encoded, the form
// in which the HTTP client sends it anyway.
QByteArray FieldUrl(const QByteArray& url);

} // namespace HitRecords

// A line of the HTTP hit store: display name, file URL, size in bytes, bitrate in kbit/s,
// sample rate in Hz, "Mono" or "Stereo", and for a variable rate a seventh field, "ABR" or
// "VBR" (the bitrate then is the average).
struct HttpHitRecord {
    QByteArray name;
    QByteArray url;
    qint64 size = 0;
    int bitrate = 0;
    int sampleRate = 0;
    bool stereo = false;
    RateMode rateMode = RateMode::Cbr;

    // Numbers that are not plain decimals read as 0; the mode is stereo when the text
    // after the rate holds "stereo" in any letter case.
    static HttpHitRecord fromLine(const QByteArray& line);
    QByteArray line() const;
};

// A line of the FTP or SMB hit store: host, folder, file name and the rest of the listing
// line (the size text, possibly followed by further fields).
struct ListingRecord {
    QByteArray host;
    QByteArray folder;
    QByteArray name;
    QByteArray rest;

    static ListingRecord fromLine(const QByteArray& line);
    QByteArray line() const;
    // The size text: the first field of the rest.
    QByteArray sizeText() const;
    bool operator==(const ListingRecord&) const = default;
};
