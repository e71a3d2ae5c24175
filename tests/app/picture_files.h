// The shared file and picture builders (tests/support) for the Qt tests, which name files with
// QString.
#pragma once

#include <QApplication>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <filesystem>

#include "support/picture_builders.h"
#include "support/support.h"

namespace tz::test {

inline std::filesystem::path toPath(const QString& file) {
    return std::filesystem::path(file.toStdString());
}

inline void writeFile(const QString& file, const Bytes& bytes) {
    writeFile(toPath(file), bytes);
}

inline void writePicture(const QString& file, int width, int height) {
    writePicture(toPath(file), width, height);
}

// Shows `mainWindow`, closes it after 50 ms and runs the event loop: the loop's exit code, 0 when
// closing the main window ended it although the companion windows the test showed are still
// shown, 1 when a watchdog had to end it after 5 s.
inline int loopExitWhenMainWindowCloses(QWidget& mainWindow) {
    mainWindow.show();
    QTimer::singleShot(50, &mainWindow, &QWidget::close);
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, qApp, [] { QCoreApplication::exit(1); });
    watchdog.start(5000);
    return QApplication::exec();
}

}  // namespace tz::test
