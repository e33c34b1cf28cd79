#include "searchd/library/SampleLibrary.h"

#include "searchd/ServiceError.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QtEndian>
#include <array>

namespace SampleLibrary {

namespace {

const std::array<const char*, 20> kArtists = {
    "The Velvet Hours", "Marla Quinn",       "Northbound Static", "Café Lumière",
    "Jonah Breck",      "Silver Orchard",    "Dusty Kettle Band", "Björn Halvorsen",
    "Neon Parish",      "Ada Whitlock",      "The Lantern Keys",  "Rosa Delmar",
    "Paper Satellites", "Otis Granger Trio", "Mirela Voss",       "Harbor & Vine",
    "Kid Meridian",     "The Copper Foxes",  "Lena Starling",     "Static Garden"};

const std::array<const char*, 30> kTitles = {
    "Midnight Ferry",     "Slow Burn",         "Paper Moon Parade", "Glass Houses",
    "Under the Overpass", "Salt and Honey",    "Long Way Down",     "Telephone Wires",
    "Satellite Heart",    "Rain on Tin",       "Cold Coffee Blues", "Wildfire Season",
    "The Last Tram",      "Borrowed Light",    "Summer of Static",  "Quiet Machines",
    "Drive All Night",    "Velvet Underpass",  "Ghost Town Waltz",  "Northern Lights",
    "Broken Compass",     "Sugar & Smoke",     "Empty Stations",    "Harbour Song",
    "Lullaby for Robots", "Too Late to Dance", "Kerosene Dreams",   "Blue Motel",
    "Canyon Echo",        "Starlight Motorway"};

const std::array<const char*, 4> kFolders = {"Rock", "Jazz", "Electronic", ""};

// Sizes around the program's 30 kB minimum and well above it.
const std::array<qint64, 10> kSizes = {12000, 45000,  30000, 30001, 80000,
                                       24000, 150000, 61000, 29000, 220000};

QByteArray littleEndian32(quint32 value) {
    QByteArray bytes(4, '\0');
    qToLittleEndian(value, bytes.data());
    return bytes;
}

QByteArray littleEndian16(quint16 value) {
    QByteArray bytes(2, '\0');
    qToLittleEndian(value, bytes.data());
    return bytes;
}

QByteArray id3v2Frame(const char* id, const QString& text) {
    const QByteArray data = '\0' + text.toLatin1(); // encoding 0: ISO-8859-1
    QByteArray frame(id);
    frame += QByteArray(4, '\0');
    qToBigEndian(static_cast<quint32>(data.size()), frame.data() + 4);
    return frame + QByteArray(2, '\0') + data;
}

// An ID3v2.3 tag with artist and title, its size written as four 7-bit groups.
QByteArray id3v2Tag(const QString& artist, const QString& title) {
    const QByteArray frames =
        id3v2Frame("TPE1", artist) + id3v2Frame("TIT2", title) + QByteArray(16, '\0');
    const auto size = static_cast<quint32>(frames.size());
    QByteArray tag("ID3\x03\x00\x00", 6);
    for (int shift = 21; shift >= 0; shift -= 7)
        tag.append(static_cast<char>((size >> shift) & 0x7F));
    return tag + frames;
}

// A WAVE file holding MPEG Layer III data: "fmt " (30 bytes), "fact" and "data", so that
// the first frame starts at offset 70.
QByteArray riffHeader(const MpegFrame& frame, qint64 totalSize) {
    const quint16 channels = frame.mode == ChannelMode::Mono ? 1 : 2;
    QByteArray fmt = littleEndian16(0x0055) + littleEndian16(channels) +
                     littleEndian32(frame.sampleRate() ? frame.sampleRate() : 44100) +
                     littleEndian32(frame.bitrate() * 125) + littleEndian16(1) + littleEndian16(0) +
                     littleEndian16(12) + littleEndian16(1) + littleEndian32(2) +
                     littleEndian16(frame.length()) + littleEndian16(1) + littleEndian16(1393);
    const auto dataSize = static_cast<quint32>(totalSize - 70);
    return "RIFF" + littleEndian32(static_cast<quint32>(totalSize - 8)) + "WAVE" + "fmt " +
           littleEndian32(fmt.size()) + fmt + "fact" + littleEndian32(4) + littleEndian32(0) +
           "data" + littleEndian32(dataSize);
}

MpegFrame frameFor(int i) {
    MpegFrame frame;
    frame.version = static_cast<MpegVersion>(i % 3);
    frame.bitrateIndex = 1 + (i * 5) % 14;
    frame.sampleRateIndex = (i / 3) % 3;
    frame.mode = static_cast<ChannelMode>((i + i / 4) % 4);
    if (i % 20 == 9)
        frame.bitrateIndex = 0; // free format
    if (i % 20 == 19)
        frame.sampleRateIndex = 3; // reserved
    return frame;
}

Wrapping wrappingFor(int i) {
    if (i % 10 == 3)
        return Wrapping::Id3v2Tag;
    if (i % 10 == 6)
        return Wrapping::Riff;
    return Wrapping::None;
}

} // namespace

QList<SampleFile> plan(int count) {
    QList<SampleFile> files;
    for (int i = 0; i < count; ++i) {
        const int artistIndex = i % static_cast<int>(kArtists.size());
        SampleFile file;
        file.artist = QString::fromUtf8(kArtists[artistIndex]);
        file.title = QString::fromUtf8(kTitles[(i * 7) % kTitles.size()]);
        if (const int round = i / 60; round > 0)
            file.title += QStringLiteral(" (Take %1)").arg(round + 1);
        const QString folder = QString::fromUtf8(kFolders[artistIndex % kFolders.size()]);
        const QString name =
            file.artist + QStringLiteral(" - ") + file.title + QStringLiteral(".mp3");
        file.path = folder.isEmpty() ? name : folder + QLatin1Char('/') + name;
        file.frame = frameFor(i);
        file.wrapping = wrappingFor(i);
        file.size = kSizes[(i * 3 + i / 20) % kSizes.size()];
        files.append(file);
    }
    return files;
}

QByteArray content(const SampleFile& file) {
    QByteArray bytes;
    if (file.wrapping == Wrapping::Id3v2Tag)
        bytes = id3v2Tag(file.artist, file.title);
    else if (file.wrapping == Wrapping::Riff)
        bytes = riffHeader(file.frame, file.size);
    const QByteArray frame = file.frame.silentFrame();
    while (bytes.size() + frame.size() <= file.size)
        bytes += frame;
    bytes += QByteArray(file.size - bytes.size(), '\0');
    return bytes;
}

void write(const QString& folder, int count) {
    for (const SampleFile& file : plan(count)) {
        const QString path = QDir(folder).filePath(file.path);
        QDir().mkpath(QFileInfo(path).path());
        QSaveFile out(path);
        const QByteArray bytes = content(file);
        if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size() || !out.commit())
            throw ServiceError(QStringLiteral("Cannot write %1").arg(path));
    }
}

} // namespace SampleLibrary
