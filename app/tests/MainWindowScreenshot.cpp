// Shows the main window in a copy of the build's program folder, checks that the pictures
// and the sample banner reached the screen, and saves a screenshot.
// Usage: main_window_screenshot PROGRAM_DIR OUTPUT.png

#include "app/MainForm.h"
#include "controls/AdImage.h"
#include "controls/HarmFade.h"
#include "support/FakePlatform.h"
#include "support/TempHome.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QTreeWidget>
#include <cstdio>

namespace {

bool copyFolder(const QString& from, const QString& to) {
    QDir().mkpath(to);
    bool ok = true;
    for (const QString& name : QDir(from).entryList(QDir::Files))
        ok &= QFile::copy(from + QLatin1Char('/') + name, to + QLatin1Char('/') + name);
    return ok;
}

int fail(const char* what) {
    std::fprintf(stderr, "screenshot: %s\n", what);
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 3)
        return fail("usage: main_window_screenshot PROGRAM_DIR OUTPUT.png");
    const QString bin = QString::fromLocal8Bit(argv[1]);
    const QString output = QString::fromLocal8Bit(argv[2]);
    TempHome home;
    for (const char* name : {"Pellmar.dat", "advert.dll"}) {
        if (!QFile::copy(bin + QLatin1Char('/') + QLatin1String(name),
                         home.file(QLatin1String(name))))
            return fail("the build's program folder is incomplete");
    }
    copyFolder(bin + QStringLiteral("/ads"), home.file(QStringLiteral("ads")));
    // The settings file is named after the running binary.
    home.write(QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName() +
                   QStringLiteral(".ini"),
               "[Options]\r\nFirstTime=0\r\n[WinPos]\r\nLeft=0\r\n"
               "Top=0\r\nWidth=900\r\nHeight=640\r\n");

    FakePlatform fake;
    TMainForm form(fake.platform);
    form.show();
    for (int i = 0; i < 20; ++i)
        QApplication::processEvents();
    form.HarmFade2->FadeIn(); // as under the pointer
    QApplication::processEvents();
    if (!fake.messages.shown.isEmpty())
        return fail(
            qPrintable(QStringLiteral("unexpected message: ") + fake.messages.shown[0].text));

    const QImage shot = form.grab().toImage();
    QDir().mkpath(QFileInfo(output).absolutePath());
    if (!shot.save(output))
        return fail("cannot write the screenshot");

    // The banner shows the sample library's first picture, pixel for pixel.
    const QImage banner = form.AdImage1->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QImage first =
        QImage(bin + QStringLiteral("/ads/banner1.png")).convertToFormat(QImage::Format_RGB32);
    if (banner != first)
        return fail("the banner does not show the sample library's picture");
    // The lit button shows its lit picture, the others their resting one.
    const QImage lit = form.HarmFade2->grab().toImage().convertToFormat(QImage::Format_RGB32);
    if (lit != QImage(QStringLiteral(":/pictures/favorites-lit.png"))
                   .convertToFormat(QImage::Format_RGB32))
        return fail("the lit button does not show its picture");
    const QImage rest = form.HarmFade3->grab().toImage().convertToFormat(QImage::Format_RGB32);
    if (rest !=
        QImage(QStringLiteral(":/pictures/options.png")).convertToFormat(QImage::Format_RGB32))
        return fail("a resting button does not show its picture");
    // The About page beside it.
    form.HarmFade9->click();
    QApplication::processEvents();
    const QString about = QFileInfo(output).absolutePath() + QStringLiteral("/about-page.png");
    if (!form.grab().toImage().save(about))
        return fail("cannot write the About page's screenshot");
    std::printf("screenshot: %s\n", qPrintable(output));
    return 0;
}
