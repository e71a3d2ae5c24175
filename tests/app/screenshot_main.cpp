// Renders the main window after a batch run over a folder of generated pictures into a PNG:
//   zevediz-screenshot OUTPUT.png
#include <QDir>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include <cstdio>

#include "main_window.h"
#include "picture_files.h"
#include "screenshot_session.h"
#include "tz/bitmap.h"
#include "tz/bmp.h"
#include "tz/gif.h"
#include "tz/jpeg.h"

using namespace tz::app;  // the classes under test

namespace {

tz::Bitmap landscape(int width, int height, int seed) {
    tz::Bitmap bitmap(width, height);
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = bitmap.row(y);
        for (int x = 0; x < width; ++x) {
            const bool ground = y > height / 2 + ((x * (seed + 1)) % 40) - 20;
            row[3 * x] = static_cast<std::uint8_t>(ground ? 60 : 200 - y * 100 / height);
            row[3 * x + 1] = static_cast<std::uint8_t>(ground ? 140 + seed * 10 : 150);
            row[3 * x + 2] = static_cast<std::uint8_t>(ground ? 70 : 90 + seed * 20);
        }
    }
    return bitmap;
}

void writePictures(const QString& folder) {
    const char* jpegs[] = {"Beach 2015.jpg", "Harbour.jpg",   "IMG_0412.JPG",
                           "IMG_0413.JPG",   "Mountains.jpg", "Old town.jpg"};
    int seed = 0;
    for (const char* name : jpegs) {
        tz::JpegImage jpeg;
        jpeg.assign(landscape(800, 600, seed++ % 6));
        jpeg.saveToFile((folder + QLatin1Char('/') + QString::fromLatin1(name)).toStdString());
    }
    tz::GifImage gif;
    gif.assign(landscape(320, 240, 2));
    gif.saveToFile((folder + QStringLiteral("/banner.gif")).toStdString());
    tz::test::writeFile(folder + QStringLiteral("/scan.bmp"),
                        tz::encodeBmp(landscape(640, 480, 4)));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: zevediz-screenshot OUTPUT.png\n");
        return 2;
    }
    const QString output = QDir::current().absoluteFilePath(QString::fromLocal8Bit(argv[1]));
    const ScreenshotSession session(argc, argv);
    const QString folder = session.folder();
    writePictures(folder);

    MainWindow window;
    window.show();
    QTimer::singleShot(300, &window, [&] {
        window.moveBrowserTo(folder);
        window.findChild<QRadioButton*>(QStringLiteral("RadioGroup1Item4"))->click();
        auto* list = window.findChild<QListWidget*>(QStringLiteral("FileListBox10"));
        for (int row = 0; row < list->count(); row += 2) {
            list->item(row)->setSelected(true);
        }
        window.startResizing();
    });
    // Once the run has ended (its outcome in the status bar), a file is chosen and the window
    // taken.
    QTimer poll;
    int waited = 0;
    QObject::connect(&poll, &QTimer::timeout, &window, [&] {
        if (window.runInProgress() || ++waited < 8) {
            return;
        }
        poll.stop();
        auto* list = window.findChild<QListWidget*>(QStringLiteral("FileListBox10"));
        list->setCurrentRow(2, QItemSelectionModel::ClearAndSelect);
        window.previewFocusedFile();
        QTimer::singleShot(300, &window, [&] {
            const bool saved = window.grab().save(output);
            std::fprintf(stderr, "%s %s\n", saved ? "saved" : "failed to save", qPrintable(output));
            QApplication::exit(saved ? 0 : 1);
        });
    });
    poll.start(50);
    return QApplication::exec();
}
