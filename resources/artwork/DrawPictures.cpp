// Draws the program's pictures: the navigation and list buttons in their resting and
// lit states, the column pictures, the About picture and the sample banners. The PNGs it
// writes are checked in under resources/pictures and resources/ads; run it again after a
// change: pellmar-draw-pictures SOURCE_DIR (configure with -DPELLMAR_ARTWORK=ON).

#include <QDir>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cmath>

namespace {

const QColor kNight(0x14, 0x1E, 0x36);
const QColor kNavy(0x1F, 0x2F, 0x55);
const QColor kAmber(0xFF, 0xA7, 0x26);
const QColor kCoral(0xF2, 0x5C, 0x2E);
const QColor kMist(0xDD, 0xE6, 0xF5);

QFont font(int pixels, bool bold = true) {
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setPixelSize(pixels);
    f.setBold(bold);
    f.setHintingPreference(QFont::PreferFullHinting);
    return f;
}

QImage canvas(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(kNight);
    return image;
}

// A small sound-wave mark: bars of varying height.
void waveMark(QPainter& p, QRectF box, const QColor& color) {
    const int bars = 5;
    const double heights[bars] = {0.35, 0.75, 1.0, 0.6, 0.3};
    const double step = box.width() / bars;
    p.setPen(Qt::NoPen);
    p.setBrush(color);
    for (int i = 0; i < bars; ++i) {
        const double h = box.height() * heights[i];
        p.drawRoundedRect(
            QRectF(box.left() + i * step + step * 0.2, box.center().y() - h / 2, step * 0.6, h), 1,
            1);
    }
}

QImage navigationButton(const QString& caption, bool lit) {
    QImage image = canvas(100, 23);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF body(1.5, 1.5, 97, 20);
    QLinearGradient fill(0, 0, 0, 23);
    if (lit) {
        fill.setColorAt(0, kAmber.lighter(115));
        fill.setColorAt(1, kCoral);
    } else {
        fill.setColorAt(0, kNavy.lighter(135));
        fill.setColorAt(1, kNavy);
    }
    p.setPen(QPen(lit ? kAmber.lighter(140) : kNavy.lighter(175), 1));
    p.setBrush(fill);
    p.drawRoundedRect(body, 5, 5);
    // A sheen over the upper half.
    QLinearGradient sheen(0, 2, 0, 11);
    sheen.setColorAt(0, QColor(255, 255, 255, lit ? 90 : 40));
    sheen.setColorAt(1, QColor(255, 255, 255, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(sheen);
    p.drawRoundedRect(QRectF(3, 2.5, 94, 9), 4, 4);
    waveMark(p, QRectF(8, 6, 12, 11), lit ? QColor(Qt::white) : kAmber);
    // Long captions get a smaller font so that they fit beside the mark.
    QFont captionFont = font(11);
    if (QFontMetrics(captionFont).horizontalAdvance(caption) > 72)
        captionFont = font(10);
    p.setFont(captionFont);
    p.setPen(lit ? QColor(0x3A, 0x16, 0x05) : kMist);
    p.drawText(QRectF(24, 1, 74, 21), Qt::AlignVCenter | Qt::AlignLeft, caption);
    return image;
}

QImage listButton(const QString& caption, bool lit) {
    QImage image(80, 23, QImage::Format_RGB32);
    image.fill(QColor(0xEF, 0xF1, 0xF5));
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient fill(0, 0, 0, 23);
    if (lit) {
        fill.setColorAt(0, kAmber.lighter(115));
        fill.setColorAt(1, kCoral);
    } else {
        fill.setColorAt(0, QColor(0x4A, 0x64, 0x9C));
        fill.setColorAt(1, kNavy);
    }
    p.setPen(QPen(lit ? kCoral.darker(120) : kNavy.darker(120), 1));
    p.setBrush(fill);
    p.drawRoundedRect(QRectF(0.5, 0.5, 79, 22), 5, 5);
    p.setFont(font(11));
    p.setPen(lit ? QColor(0x3A, 0x16, 0x05) : QColor(Qt::white));
    p.drawText(QRectF(0, 0, 80, 23), Qt::AlignCenter, caption);
    return image;
}

QImage columnTop() {
    QImage image = canvas(105, 215);
    QPainter p(&image);
    QLinearGradient fill(0, 0, 105, 0);
    fill.setColorAt(0, kNight);
    fill.setColorAt(1, kNavy.darker(115));
    p.fillRect(image.rect(), fill);
    return image;
}

QImage columnBottom() {
    QImage image = canvas(105, 600);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient fill(0, 0, 105, 0);
    fill.setColorAt(0, kNight);
    fill.setColorAt(1, kNavy.darker(115));
    p.fillRect(image.rect(), fill);
    // Rings of sound spreading from a disc.
    const QPointF centre(52, 70);
    for (int ring = 5; ring >= 1; --ring) {
        p.setPen(QPen(QColor(255, 167, 38, 28 + ring * 6), 1.2));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(centre, ring * 9.0, ring * 9.0);
    }
    QRadialGradient disc(centre, 20);
    disc.setColorAt(0, kAmber.lighter(130));
    disc.setColorAt(0.7, kCoral);
    disc.setColorAt(1, kCoral.darker(140));
    p.setPen(Qt::NoPen);
    p.setBrush(disc);
    p.drawEllipse(centre, 18, 18);
    p.setBrush(kNight);
    p.drawEllipse(centre, 4, 4);
    p.setFont(font(15));
    p.setPen(kMist);
    p.drawText(QRectF(0, 122, 105, 22), Qt::AlignCenter, QStringLiteral("Pellmar"));
    p.setFont(font(9, false));
    p.setPen(kMist.darker(140));
    p.drawText(QRectF(0, 142, 105, 16), Qt::AlignCenter, QStringLiteral("MP3 finder"));
    return image;
}

QImage aboutPicture() {
    QImage image(390, 110, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient fill(0, 0, 390, 110);
    fill.setColorAt(0, kNight);
    fill.setColorAt(1, kNavy.lighter(120));
    p.fillRect(image.rect(), fill);
    // A wave across the picture.
    QPainterPath wave;
    wave.moveTo(0, 80);
    for (int x = 0; x <= 390; x += 3)
        wave.lineTo(x, 80 + 12 * std::sin(x / 18.0) * std::cos(x / 55.0));
    p.setPen(QPen(QColor(255, 167, 38, 150), 2));
    p.drawPath(wave);
    p.setPen(QPen(QColor(221, 230, 245, 70), 1));
    p.drawPath(wave.translated(0, 8));
    waveMark(p, QRectF(22, 18, 36, 36), kAmber);
    p.setFont(font(34));
    p.setPen(Qt::white);
    p.drawText(QRectF(70, 8, 300, 50), Qt::AlignVCenter | Qt::AlignLeft, QStringLiteral("Pellmar"));
    p.setFont(font(12, false));
    p.setPen(kMist);
    p.drawText(QRectF(72, 52, 310, 18), Qt::AlignLeft,
               QStringLiteral("Find MP3 files on HTTP, FTP and SMB"));
    return image;
}

QImage banner(const QString& headline, const QString& line, const QColor& from, const QColor& to) {
    QImage image(468, 60, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient fill(0, 0, 468, 0);
    fill.setColorAt(0, from);
    fill.setColorAt(1, to);
    p.fillRect(image.rect(), fill);
    for (int i = 0; i < 6; ++i) {
        p.setPen(QPen(QColor(255, 255, 255, 22), 1));
        p.drawEllipse(QPointF(430, 30), 12.0 + i * 11, 12.0 + i * 11);
    }
    waveMark(p, QRectF(14, 14, 32, 32), Qt::white);
    p.setFont(font(18));
    p.setPen(Qt::white);
    p.drawText(QRectF(58, 6, 400, 26), Qt::AlignLeft | Qt::AlignVCenter, headline);
    p.setFont(font(12, false));
    p.setPen(QColor(255, 255, 255, 220));
    p.drawText(QRectF(58, 32, 400, 20), Qt::AlignLeft | Qt::AlignVCenter, line);
    p.setPen(QPen(QColor(0, 0, 0, 60), 1));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRectF(0.5, 0.5, 467, 59));
    return image;
}

bool save(const QImage& image, const QString& path) {
    return image.convertToFormat(QImage::Format_RGB888).save(path, "PNG", 9);
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QString source = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath();
    const QDir pictures(source + QStringLiteral("/resources/pictures"));
    const QDir ads(source + QStringLiteral("/resources/ads"));
    QDir().mkpath(pictures.path());
    QDir().mkpath(ads.path());
    bool ok = true;

    const QList<QPair<QString, QString>> navigation = {
        {QStringLiteral("search"), QStringLiteral("Search")},
        {QStringLiteral("favorites"), QStringLiteral("Favorites")},
        {QStringLiteral("options"), QStringLiteral("Options")},
        {QStringLiteral("submit"), QStringLiteral("Submit Site")},
        {QStringLiteral("home"), QStringLiteral("Home Page")},
        {QStringLiteral("friend"), QStringLiteral("Tell a Friend")},
        {QStringLiteral("contact"), QStringLiteral("Contact")},
        {QStringLiteral("help"), QStringLiteral("Help")},
        {QStringLiteral("about"), QStringLiteral("About")}};
    for (const auto& [name, caption] : navigation) {
        ok &= save(navigationButton(caption, false),
                   pictures.filePath(name + QStringLiteral(".png")));
        ok &= save(navigationButton(caption, true),
                   pictures.filePath(name + QStringLiteral("-lit.png")));
    }
    const QList<QPair<QString, QString>> list = {
        {QStringLiteral("selectall"), QStringLiteral("Select All")},
        {QStringLiteral("group"), QStringLiteral("Group")},
        {QStringLiteral("invert"), QStringLiteral("Invert")},
        {QStringLiteral("find"), QStringLiteral("Find")}};
    for (const auto& [name, caption] : list) {
        ok &= save(listButton(caption, false), pictures.filePath(name + QStringLiteral(".png")));
        ok &= save(listButton(caption, true), pictures.filePath(name + QStringLiteral("-lit.png")));
    }
    // The submit buttons of the submission page.
    ok &= save(listButton(QStringLiteral("Submit"), false),
               pictures.filePath(QStringLiteral("send.png")));
    ok &= save(listButton(QStringLiteral("Submit"), true),
               pictures.filePath(QStringLiteral("send-lit.png")));
    ok &= save(columnTop(), pictures.filePath(QStringLiteral("column-top.png")));
    ok &= save(columnBottom(), pictures.filePath(QStringLiteral("column-bottom.png")));
    ok &= save(aboutPicture(), pictures.filePath(QStringLiteral("about-picture.png")));

    ok &= save(banner(QStringLiteral("Find MP3 files everywhere"),
                      QStringLiteral("One search over HTTP sites, FTP sites and SMB shares"),
                      QColor(0x1F, 0x2F, 0x55), QColor(0x3D, 0x5A, 0x99)),
               ads.filePath(QStringLiteral("banner1.png")));
    ok &= save(banner(QStringLiteral("Know the quality first"),
                      QStringLiteral("Bitrate, sample rate and stereo checked before you fetch"),
                      QColor(0xC2, 0x41, 0x1C), QColor(0xFF, 0xA7, 0x26)),
               ads.filePath(QStringLiteral("banner2.png")));
    ok &= save(banner(QStringLiteral("Share your music"),
                      QStringLiteral("Submit your site or SMB share to the search service"),
                      QColor(0x0E, 0x5C, 0x55), QColor(0x2A, 0x9D, 0x8F)),
               ads.filePath(QStringLiteral("banner3.png")));
    return ok ? 0 : 1;
}
