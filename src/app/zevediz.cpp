// Program entry of the desktop program: the application object, then the main window (which
// creates the viewer and the preview window after it), then the message loop. Folders and files
// named on the command line open in the browser.
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <filesystem>
#include <vector>

#include "application.h"
#include "main_window.h"

int main(int argc, char** argv) {
    tz::app::Application application(argc, argv);
    tz::app::configureApplication();

    // The user's language where a translation is installed; English otherwise.
    QTranslator qtTranslation;
    if (qtTranslation.load(QLocale(), QStringLiteral("qtbase"), QStringLiteral("_"),
                           QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QApplication::installTranslator(&qtTranslation);
    }
    QTranslator translation;
    if (translation.load(QLocale(), QStringLiteral("zevediz"), QStringLiteral("_"),
                         QStringLiteral(TZ_TRANSLATIONS_DIR))) {
        QApplication::installTranslator(&translation);
    }

    // The arguments as the file system spells them, whatever their encoding.
    std::vector<std::filesystem::path> paths;
    for (int index = 1; index < argc; ++index) {
        paths.emplace_back(argv[index]);
    }

    tz::app::MainWindow window;
    window.setStartupPaths(std::move(paths));
    window.show();
    return QApplication::exec();
}
