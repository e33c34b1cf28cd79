#pragma once

#include "searchd/library/MpegFrame.h"

#include <QByteArray>
#include <QList>
#include <QString>

// A library of made-up songs for trying the program out: silent MPEG Layer III files
// across the MPEG versions, bitrates, sample rates and channel modes, some above and some
// below 30 kB, and a few the program's header probe cannot read (an ID3v2 tag before the
// first frame, a free-format header, a reserved sample rate) or reads from a RIFF wrapper.
namespace SampleLibrary {

enum class Wrapping { None, Id3v2Tag, Riff };

struct SampleFile {
    QString path; // relative, "Folder/Artist - Title.mp3"
    QString artist;
    QString title;
    MpegFrame frame;
    Wrapping wrapping = Wrapping::None;
    qint64 size = 0;
};

// The files of a library of count songs; the same count always gives the same files.
QList<SampleFile> plan(int count);

// The bytes of one file: its wrapping, then silent frames, then zeros up to its size.
QByteArray content(const SampleFile& file);

// Writes plan(count) under folder. Throws ServiceError when a file cannot be written.
void write(const QString& folder, int count);

} // namespace SampleLibrary
