// Program entry of the desktop program: the application object, then the main window (which
// creates the viewer and the preview window after it), then the message loop.
#include <QIcon>

#include "application.h"
#include "main_window.h"

int main(int argc, char** argv) {
    tz::app::Application application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("zevediz"));
    QApplication::setApplicationDisplayName(QString::fromLatin1(tz::app::kApplicationTitle));
    QApplication::setDesktopFileName(QStringLiteral("zevediz"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/zevediz/zevediz.png")));

    // The command line is not read.
    tz::app::MainWindow window;
    window.show();
    return QApplication::exec();
}
