// Takes the documentation's screenshot of the preview window beside the main window, grabbed
// from the screen (run it under an X server, e.g. a virtual one):
//   zevediz-screenshot-preview OUTPUT.png
#include <QDir>
#include <QGuiApplication>
#include <QListWidget>
#include <QScreen>
#include <QTimer>
#include <cmath>
#include <cstdio>

#include "main_window.h"
#include "preview_window.h"
#include "screenshot_session.h"
#include "tz/bitmap.h"
#include "tz/jpeg.h"

using namespace tz::app;  // the classes under test

namespace {

// A sunset over hills: enough shapes and colours to tell the preview at a glance.
tz::Bitmap sunset(int width, int height, double hillPhase) {
    tz::Bitmap bitmap(width, height);
    const double sunX = width * 0.68;
    const double sunY = height * 0.42;
    const double sunRadius = height * 0.11;
    for (int y = 0; y < height; ++y) {
        const double t = static_cast<double>(y) / height;
        for (int x = 0; x < width; ++x) {
            const double hill = height * (0.62 + 0.08 * std::sin(x * 0.012 + hillPhase) +
                                          0.04 * std::sin(x * 0.031 + 2 * hillPhase));
            tz::Rgb color{static_cast<std::uint8_t>(60 + 190 * t),
                          static_cast<std::uint8_t>(70 + 90 * t),
                          static_cast<std::uint8_t>(160 - 70 * t)};
            if (std::hypot(x - sunX, y - sunY) < sunRadius) {
                color = {255, 236, 150};
            }
            if (y > hill) {
                const double depth = (y - hill) / height;
                color = {static_cast<std::uint8_t>(40 + 60 * depth),
                         static_cast<std::uint8_t>(90 - 40 * depth),
                         static_cast<std::uint8_t>(60 - 30 * depth)};
            }
            bitmap.setColor(x, y, color);
        }
    }
    return bitmap;
}

void writePictures(const QString& folder) {
    const char* names[] = {"Beach 2015.jpg", "Evening.jpg", "Harbour.jpg", "Hills.jpg"};
    double phase = 0;
    for (const char* name : names) {
        tz::JpegImage jpeg;
        jpeg.assign(sunset(1024, 768, phase));
        jpeg.saveToFile(QDir(folder).filePath(QString::fromLatin1(name)).toStdString());
        phase += 1.3;
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: zevediz-screenshot-preview OUTPUT.png\n");
        return 2;
    }
    const QString output = QDir::current().absoluteFilePath(QString::fromLocal8Bit(argv[1]));
    const ScreenshotSession session(argc, argv);
    const QString folder = session.folder();
    writePictures(folder);

    MainWindow window;
    window.show();
    // The start-up timer shows the preview; then a picture is chosen in the list.
    QTimer::singleShot(600, &window, [&] {
        window.moveBrowserTo(folder);
        auto* list = window.findChild<QListWidget*>(QStringLiteral("FileListBox10"));
        list->setCurrentRow(2, QItemSelectionModel::ClearAndSelect);
        window.previewFocusedFile();
    });
    QTimer::singleShot(1600, &window, [&] {
        const QRect area = window.frameGeometry()
                               .united(window.previewWindow()->frameGeometry())
                               .adjusted(-12, -12, 12, 12);
        const QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(
            0, area.x(), area.y(), area.width(), area.height());
        const bool saved = shot.save(output);
        std::fprintf(stderr, "%s %s\n", saved ? "saved" : "failed to save", qPrintable(output));
        QApplication::exit(saved ? 0 : 1);
    });
    return QApplication::exec();
}
