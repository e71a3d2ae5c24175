// The main window: start-up, layout, presets, batch runs, recent and special folders, the file
// browser's keys and the links, driven through the window as a user would.
#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "application.h"
#include "file_browser.h"
#include "image_viewer.h"
#include "main_window.h"
#include "picture_bridge.h"
#include "picture_files.h"
#include "preview_window.h"
#include "radio_group.h"
#include "tz/bitmap.h"
#include "tz/bmp.h"
#include "tz/errors.h"
#include "tz/gif.h"
#include "tz/jpeg.h"
#include "tz/recent.h"
#include "tz/resize.h"
#include "tz/settings.h"
#include "tz/version.h"

using namespace tz::app;  // the classes under test

namespace {

struct MessageBoxCall {
    QMessageBox::Icon icon;
    QString caption;
    QString text;
    QMessageBox::StandardButtons buttons;
};

// One call of the run's per-file step.
struct WorkerCall {
    tz::PictureFormat format;
    std::string name;
    std::string sizeText;
    std::filesystem::path output;
};

WorkerCall workerCall(const std::filesystem::path& source, const std::filesystem::path& output,
                      const tz::RunDescription& run) {
    return {tz::resizedFormatOf(source.filename().string()).value(), source.filename().string(),
            run.sizeText, output};
}

QByteArray fileBytes(const QString& file) {
    QFile in(file);
    return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray();
}

QSize jpegSize(const QString& file) {
    tz::JpegImage jpeg;
    jpeg.loadFromFile(file.toStdString());
    return {jpeg.width(), jpeg.height()};
}

QSize gifSize(const QString& file) {
    tz::GifImage gif;
    gif.loadFromFile(file.toStdString());
    return {gif.width(), gif.height()};
}

// A step that waits until the test lets it go: the run is then known to be in flight.
struct Gate {
    std::atomic<bool> open{false};
    std::atomic<int> waiting{0};
    void pass() {
        waiting.fetch_add(1);
        while (!open.load()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
};

QSize bmpSize(const QString& file) {
    const tz::Bitmap bitmap = tz::loadBmpFile(file.toStdString());
    return {bitmap.width(), bitmap.height()};
}

}  // namespace

class TestMainWindow : public QObject {
    Q_OBJECT

  private slots:
    void init();
    void cleanup();

    void startsWithEmptyStoreAtRoot();
    void startsInMostRecentFolder();
    void deletedRecentFolderFallsBackToRootSilently();
    void reactivationDoesNotReloadRecentList();
    void damagedRecentValueReportedOnceAtStartUp();
    void damagedRecentValueStopsRunBeforeFirstFile();
    void windowLayoutAsDesigned();
    void menusAsDesigned();
    void timerShowsPreviewOnce();
    void previewToggleFollowsVisibility();

    void presetClickWritesSizeField_data();
    void presetClickWritesSizeField();
    void firstRunUsesTheShownPresetThenTheRemembered();
    void storedPresetThatIsNoPresetReadsAsDefault();
    void optionsAreRememberedAndReachTheRun();
    void runDispatchesByUpperCasedExtension();
    void runWithNoSelectionStillCreatesFolderAndRecords();
    void failingFileStopsRunAtItsPosition();
    void runGoesOnWhileEventsAreProcessed();
    void stopMidRunSaysHowFarItGot();
    void stopMidRunLeavesOnlyWholeOutputs();
    void closeMidRunAsksThenStopsAndCloses();
    void destroyingWindowMidRunStopsTheWorkers();
    void recentListAfterRuns();
    void recentValuesStoredInStoreForm();
    void runWritesResizedCopiesLeavingSources();
    void corruptFifthOfTenStopsWithFourWritten();

    void fileListShowsMaskedPicturesSorted();
    void ctrlASelectsAllButCtrlShiftADoesNot();
    void deleteMovesOnlyFocusedFileToTrash();
    void deleteOfLastFileLeavesNoSelection();
    void declinedDeleteKeepsFile();
    void refreshKeepsOnlyFocusedItemSelected();
    void userSelectionFeedsPreviewProgramChangesDoNot();
    void ctrlClickingFocusedItemLeavesNoCurrentFile();
    void doubleClickOpensViewer();

    void unreachableRecentFolderShowsErrorAndStays();
    void specialFoldersFromUserDirs();
    void emptyPathAndCurrentFolderDoNothing();

    void minimumSizeKeepsEveryControlVisible();
    void burstOfSelectionChangesDecodesOnce();
    void keyboardReachesMenusAndCheckedPreset();
    void nonUtf8NameThroughWholeRun();
    void deleteWithoutLocalShareCreatesTheHomeTrash();
    void failedTrashShowsErrorAndKeepsFile();
    void damagedStoreIsMovedAsideAndRunsWork();
    void specialFoldersDisabledWhenMissing();
    void openingFoldersAndFilesFromOutside();

    void aboutMessageAndCancel();
    void aboutOkOpensWebSite();
    void statusBarAndHelpOpenWebSite();
    void errorBoxShowsHandlerErrors();

  private:
    // A shown main window over a fresh store, with the answer for modal boxes preset.
    std::unique_ptr<MainWindow> startMainWindow();
    // Moves the browser of `window` into a fresh picture folder under the test's home.
    QString makeFolder(const QString& name);
    void browseTo(MainWindow& window, const QString& folder);
    void clickRow(MainWindow& window, int row, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
    void doubleClickRow(MainWindow& window, int row);
    QListWidget* fileList(MainWindow& window);
    // Replaces the per-file step by a recorder, files taken one at a time.
    void fakeWorkers(MainWindow& window, std::optional<std::string> failingName = std::nullopt);
    // Presses "Start resizing!" and waits until the run has ended.
    void runToEnd(MainWindow& window);
    QPushButton* startButton(MainWindow& window);
    QProgressBar* progressBar(MainWindow& window);
    QString statusText(MainWindow& window);
    std::vector<WorkerCall> workerCalls();
    void recordCall(const WorkerCall& call);

    std::unique_ptr<QTemporaryDir> m_home;
    QString m_homePath;
    std::vector<MessageBoxCall> m_boxes;
    int m_boxAnswer = QMessageBox::Ok;
    // Filled on worker threads.
    std::mutex m_workerMutex;
    std::vector<WorkerCall> m_workerCalls;
    QStringList m_opened;
};

void TestMainWindow::init() {
    m_home = std::make_unique<QTemporaryDir>();
    QVERIFY(m_home->isValid());
    m_homePath = QFileInfo(m_home->path()).canonicalFilePath();
    QVERIFY(QDir(m_homePath).mkpath(QStringLiteral("config")));
    QVERIFY(QDir(m_homePath).mkpath(QStringLiteral("data")));
    qputenv("HOME", m_homePath.toUtf8());
    qputenv("XDG_CONFIG_HOME", (m_homePath + QStringLiteral("/config")).toUtf8());
    qputenv("XDG_DATA_HOME", (m_homePath + QStringLiteral("/data")).toUtf8());
    m_boxes.clear();
    m_boxAnswer = QMessageBox::Ok;
    {
        std::lock_guard lock(m_workerMutex);
        m_workerCalls.clear();
    }
    m_opened.clear();
    tz::app::setMessageBoxHook([this](QMessageBox::Icon icon, const QString& caption,
                                      const QString& text, QMessageBox::StandardButtons buttons) {
        m_boxes.push_back({icon, caption, text, buttons});
        return m_boxAnswer;
    });
}

void TestMainWindow::cleanup() {
    tz::app::setMessageBoxHook({});
    QDir::setCurrent(QDir::tempPath());
    // Names that are not UTF-8 are beyond QDir's reach.
    std::error_code ignored;
    std::filesystem::remove_all(QFile::encodeName(m_homePath).toStdString(), ignored);
    m_home.reset();
}

std::unique_ptr<MainWindow> TestMainWindow::startMainWindow() {
    auto window = std::make_unique<MainWindow>();
    window->setUrlOpener([this](const QString& address) { m_opened.append(address); });
    window->show();
    return window;
}

QString TestMainWindow::makeFolder(const QString& name) {
    const QString folder = m_homePath + QLatin1Char('/') + name;
    QDir().mkpath(folder);
    return folder;
}

void TestMainWindow::browseTo(MainWindow& window, const QString& folder) {
    window.moveBrowserTo(folder);
    QCOMPARE(window.browsedFolder(), folder);
}

QListWidget* TestMainWindow::fileList(MainWindow& window) {
    return window.findChild<QListWidget*>(QStringLiteral("FileListBox10"));
}

void TestMainWindow::clickRow(MainWindow& window, int row, Qt::KeyboardModifiers modifiers) {
    QListWidget* list = fileList(window);
    const QRect rect = list->visualItemRect(list->item(row));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, modifiers, rect.center());
}

// A double click as the window system delivers it: a click, then the double-click event.
void TestMainWindow::doubleClickRow(MainWindow& window, int row) {
    QListWidget* list = fileList(window);
    const QPoint at = list->visualItemRect(list->item(row)).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, at);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, at);
}

void TestMainWindow::fakeWorkers(MainWindow& window, std::optional<std::string> failingName) {
    window.setRunJobs(1);
    window.setFileResizer([this, failingName](const std::filesystem::path& source,
                                              const std::filesystem::path& output,
                                              const tz::RunDescription& run) {
        if (failingName && source.filename() == *failingName) {
            throw tz::JpegError("JPEG error #53", 53);
        }
        recordCall(workerCall(source, output, run));
    });
}

void TestMainWindow::recordCall(const WorkerCall& call) {
    std::lock_guard lock(m_workerMutex);
    m_workerCalls.push_back(call);
}

std::vector<WorkerCall> TestMainWindow::workerCalls() {
    std::lock_guard lock(m_workerMutex);
    return m_workerCalls;
}

void TestMainWindow::runToEnd(MainWindow& window) {
    startButton(window)->click();
    QTRY_VERIFY_WITH_TIMEOUT(!window.runInProgress(), 60'000);
}

QPushButton* TestMainWindow::startButton(MainWindow& window) {
    return window.findChild<QPushButton*>(QStringLiteral("Button14"));
}

QProgressBar* TestMainWindow::progressBar(MainWindow& window) {
    return window.findChild<QProgressBar*>(QStringLiteral("ProgressBar1"));
}

QString TestMainWindow::statusText(MainWindow& window) {
    return window.findChild<QStatusBar*>(QStringLiteral("StatusBar1"))->currentMessage();
}

// ---------------------------------------------------------------------------------------------
// Start-up

void TestMainWindow::startsWithEmptyStoreAtRoot() {
    QDir::setCurrent(m_homePath);
    auto window = startMainWindow();
    QVERIFY(!window->startupPending());
    for (int index = 0; index < 5; ++index) {
        QCOMPARE(window->recentFolder(index), QStringLiteral("/"));
    }
    QCOMPARE(window->browsedFolder(), QStringLiteral("/"));
    QCOMPARE(QDir::currentPath(), QStringLiteral("/"));
    auto* drives = window->findChild<QComboBox*>(QStringLiteral("DriveComboBox10"));
    QCOMPARE(drives->currentData().toString(), QStringLiteral("/"));
    QCOMPARE(window->findChild<QAction*>(QStringLiteral("P1"))->text(),
             QStringLiteral("Refresh list"));
    QCOMPARE(window->previewWindow()->windowTitle(), QStringLiteral("Preview images"));
    QCOMPARE(window->viewer()->windowTitle(), QStringLiteral("View image"));
    QVERIFY(m_boxes.empty());
}

void TestMainWindow::startsInMostRecentFolder() {
    const QString photos = makeFolder(QStringLiteral("Photos"));
    tz::writeSetting(tz::kProgramKey, "Recent1", photos.toStdString());
    auto window = startMainWindow();
    QCOMPARE(window->recentFolder(0), photos);
    QCOMPARE(window->browsedFolder(), photos);
    QCOMPARE(QDir::currentPath(), photos);
}

void TestMainWindow::deletedRecentFolderFallsBackToRootSilently() {
    const QString gone = makeFolder(QStringLiteral("Gone"));
    tz::writeSetting(tz::kProgramKey, "Recent1", gone.toStdString());
    QVERIFY(QDir(gone).removeRecursively());
    auto window = startMainWindow();
    QVERIFY(!window->startupPending());
    QCOMPARE(window->recentFolder(0), gone);  // the caption is not cleaned up
    QCOMPARE(window->browsedFolder(), QStringLiteral("/"));
    QVERIFY(m_boxes.empty());
}

void TestMainWindow::reactivationDoesNotReloadRecentList() {
    auto window = startMainWindow();
    const QString elsewhere = makeFolder(QStringLiteral("Elsewhere"));
    tz::writeSetting(tz::kProgramKey, "Recent1", elsewhere.toStdString());
    QEvent activate(QEvent::WindowActivate);
    QApplication::sendEvent(window.get(), &activate);
    QCOMPARE(window->recentFolder(0), QStringLiteral("/"));
    QCOMPARE(window->browsedFolder(), QStringLiteral("/"));
}

void TestMainWindow::damagedRecentValueReportedOnceAtStartUp() {
    tz::writeRawValue(tz::kProgramKey, "Recent1", tz::ValueType::DWord, {1, 0, 0, 0});
    auto window = startMainWindow();
    QEvent activate(QEvent::WindowActivate);
    QApplication::sendEvent(window.get(), &activate);
    QCOMPARE(m_boxes.size(), std::size_t{1});
    QCOMPARE(m_boxes[0].text, QStringLiteral("Invalid data type for 'Recent1'"));
    QVERIFY(!window->startupPending());
    QCOMPARE(window->browsedFolder(), QStringLiteral("/"));
}

void TestMainWindow::damagedRecentValueStopsRunBeforeFirstFile() {
    const QString folder = makeFolder(QStringLiteral("damaged"));
    tz::test::writePicture(folder + QStringLiteral("/a.bmp"), 2, 2);
    auto window = startMainWindow();
    browseTo(*window, folder);
    fakeWorkers(*window);
    tz::writeRawValue(tz::kProgramKey, "Recent1", tz::ValueType::DWord, {1, 0, 0, 0});
    window->selectAllFiles();
    window->findChild<QPushButton*>(QStringLiteral("Button14"))->click();
    QCOMPARE(m_boxes.size(), std::size_t{1});
    QCOMPARE(m_boxes[0].text, QStringLiteral("Invalid data type for 'Recent1'"));
    QVERIFY(!window->runInProgress());
    QVERIFY(workerCalls().empty());
    QVERIFY(window->findChild<QProgressBar*>(QStringLiteral("ProgressBar1"))->isHidden());
    QVERIFY(QFileInfo(folder + QStringLiteral("/resized")).isDir());
    QVERIFY(fileList(*window)->isEnabled());
}

void TestMainWindow::windowLayoutAsDesigned() {
    auto window = startMainWindow();
    QCOMPARE(window->windowTitle(), QStringLiteral("Tovan Zevediz"));
    QCOMPARE(window->pos(), QPoint(80, 67));
    const int menuHeight = window->menuBar()->height();
    QCOMPARE(window->size(), QSize(463, 482 + menuHeight));
    QCOMPARE(window->statusBar()->height(), 21);
    QCOMPARE(window->centralWidget()->size(), QSize(463, 461));

    auto* presets = window->findChild<tz::app::RadioGroup*>(QStringLiteral("RadioGroup1"));
    QVERIFY(presets);
    QCOMPARE(presets->title(), QStringLiteral("Select output quality"));
    QCOMPARE(presets->size(), QSize(234, 295));
    const QStringList captions{"Small thumbnail (120 pixels)", "Normal thumbnail (160 pixels)",
                               "Large thumbnail (250 pixels)", "E-mail (480 pixels)",
                               "Web small (640 pixels)",       "Web large (860 pixels)",
                               "Web very large (1024 pixels)", "Large (1280 pixels)",
                               "Very large (1600 pixels)"};
    QCOMPARE(presets->itemCount(), 9);
    for (int index = 0; index < 9; ++index) {
        QCOMPARE(presets->itemText(index), captions[index]);
    }
    QCOMPARE(presets->itemIndex(), 4);  // the size the first run uses

    auto* sizeField = window->findChild<QLineEdit*>(QStringLiteral("Edit5"));
    QVERIFY(sizeField);
    QVERIFY(sizeField->isHidden());
    QCOMPARE(sizeField->text(), QStringLiteral("640"));

    auto* start = window->findChild<QPushButton*>(QStringLiteral("Button14"));
    QCOMPARE(start->text(), QStringLiteral("Start resizing!"));
    QVERIFY(start->font().bold());
    QCOMPARE(start->size(), QSize(216, 25));
    auto* selectAll = window->findChild<QPushButton*>(QStringLiteral("Button9"));
    QCOMPARE(selectAll->text(), QStringLiteral("Select all"));
    QCOMPARE(selectAll->geometry(), QRect(8, 317, 197, 25));

    auto* progress = window->findChild<QProgressBar*>(QStringLiteral("ProgressBar1"));
    QVERIFY(progress->isHidden());
    QCOMPARE(progress->geometry(), QRect(3, 437, 457, 20));

    QCOMPARE(fileList(*window)->geometry(), QRect(8, 168, 197, 148));
    QCOMPARE(fileList(*window)->selectionMode(), QAbstractItemView::ExtendedSelection);
    QCOMPARE(window->findChild<QWidget*>(QStringLiteral("DirectoryListBox10"))->geometry(),
             QRect(8, 40, 197, 129));
    QCOMPARE(window->findChild<QWidget*>(QStringLiteral("Panel1"))->height(), 80);

    // Growing the window: the file list grows both ways, the preset panel follows the right
    // edge, the progress bar the bottom edge.
    const QRect panel = window->findChild<QWidget*>(QStringLiteral("Panel2"))->geometry();
    window->resize(window->width() + 40, window->height() + 30);
    QCOMPARE(fileList(*window)->geometry(), QRect(8, 168, 237, 178));
    QCOMPARE(window->findChild<QWidget*>(QStringLiteral("Panel2"))->geometry(),
             panel.translated(40, 0));
    QCOMPARE(progress->geometry(), QRect(3, 467, 497, 20));
    QCOMPARE(selectAll->geometry(), QRect(8, 347, 237, 25));

    const auto panels = window->statusBar()->findChildren<QLabel*>();
    QCOMPARE(panels.size(), 2);
    QCOMPARE(window->statusBar()->cursor().shape(), Qt::PointingHandCursor);
}

void TestMainWindow::menusAsDesigned() {
    auto window = startMainWindow();
    QMenuBar* bar = window->findChild<QMenuBar*>(QStringLiteral("MainMenu2"));
    QVERIFY(bar);
    const auto top = bar->actions();
    QCOMPARE(top.size(), 3);
    QCOMPARE(top[0]->text(), QStringLiteral("File"));
    QCOMPARE(top[1]->text(), QStringLiteral("Options"));
    QCOMPARE(top[2]->text(), QStringLiteral("Help"));

    auto texts = [](const QMenu* menu) {
        QStringList result;
        for (const QAction* action : menu->actions()) {
            result.append(action->isSeparator() ? QStringLiteral("-") : action->text());
        }
        return result;
    };
    QCOMPARE(texts(top[0]->menu()),
             QStringList({"Preview images", "View image", "-", "Recent folders", "Special folders",
                          "-", "Exit"}));
    QCOMPARE(texts(top[1]->menu()), QStringList({"Keep original dates", "Never enlarge pictures"}));
    for (QAction* option : top[1]->menu()->actions()) {
        QVERIFY(option->isCheckable());
        QVERIFY(!option->isChecked());
    }
    QCOMPARE(texts(top[2]->menu()), QStringList({"Tovan Zevediz web site", "-", "About..."}));
    QCOMPARE(texts(window->findChild<QMenu*>(QStringLiteral("M16"))),
             QStringList({"My Pictures", "My Documents", "Recent Files", "Desktop"}));
    for (const char* name :
         {"MM12", "MM13", "M151", "M152", "M153", "M154", "M155", "M19", "MyPictures1",
          "MyDocuments1", "RecentFiles1", "Desktop1", "MM92", "About1", "P1"}) {
        QVERIFY2(window->findChild<QAction*>(QString::fromLatin1(name)), name);
    }
    QVERIFY(window->findChild<QAction*>(QStringLiteral("MM12"))->isCheckable());
}

void TestMainWindow::timerShowsPreviewOnce() {
    auto window = startMainWindow();
    auto* timer = window->findChild<QTimer*>(QStringLiteral("Timer2"));
    QCOMPARE(timer->interval(), 100);
    QTRY_VERIFY(window->previewWindow()->isVisible());
    QVERIFY(window->findChild<QAction*>(QStringLiteral("MM12"))->isChecked());
    QVERIFY(!timer->isActive());
    // No picture yet: the designed empty image area.
    QCOMPARE(window->previewWindow()->pictureView()->size(), QSize(137, 85));
}

void TestMainWindow::previewToggleFollowsVisibility() {
    auto window = startMainWindow();
    QTRY_VERIFY(window->previewWindow()->isVisible());
    QAction* toggle = window->findChild<QAction*>(QStringLiteral("MM12"));
    toggle->trigger();
    QVERIFY(!window->previewWindow()->isVisible());
    QVERIFY(!toggle->isChecked());
    toggle->trigger();
    QVERIFY(window->previewWindow()->isVisible());
    QVERIFY(toggle->isChecked());
    // Nothing loaded: the empty picture's natural size divided by 4.
    QCOMPARE(window->previewWindow()->pictureView()->size(), QSize(0, 0));
    // Closed by its own close box.
    window->previewWindow()->close();
    QVERIFY(!toggle->isChecked());
    QVERIFY(!window->previewWindow()->isVisible());
}

// ---------------------------------------------------------------------------------------------
// Batch run

void TestMainWindow::presetClickWritesSizeField_data() {
    QTest::addColumn<int>("entry");
    QTest::addColumn<QString>("sizeText");
    const char* texts[] = {"120", "160", "250", "480", "640", "860", "1024", "1280", "1600"};
    for (int entry = 0; entry < 9; ++entry) {
        QTest::addRow("entry %d", entry) << entry << QString::fromLatin1(texts[entry]);
    }
}

void TestMainWindow::presetClickWritesSizeField() {
    QFETCH(int, entry);
    QFETCH(QString, sizeText);
    auto window = startMainWindow();
    auto* button = window->findChild<QRadioButton*>(QStringLiteral("RadioGroup1Item%1").arg(entry));
    QVERIFY(button);
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(window->findChild<QLineEdit*>(QStringLiteral("Edit5"))->text(), sizeText);
}

void TestMainWindow::firstRunUsesTheShownPresetThenTheRemembered() {
    const QString folder = makeFolder(QStringLiteral("first"));
    tz::test::writePicture(folder + QStringLiteral("/a.bmp"), 4, 4);
    auto window = startMainWindow();
    auto* presets = window->findChild<tz::app::RadioGroup*>(QStringLiteral("RadioGroup1"));
    QCOMPARE(presets->itemText(presets->itemIndex()), QStringLiteral("Web small (640 pixels)"));
    browseTo(*window, folder);
    fakeWorkers(*window);
    window->selectAllFiles();
    runToEnd(*window);
    QCOMPARE(workerCalls().size(), std::size_t{1});
    QCOMPARE(workerCalls()[0].sizeText, std::string("640"));

    QTest::mouseClick(window->findChild<QRadioButton*>(QStringLiteral("RadioGroup1Item1")),
                      Qt::LeftButton);
    window->selectAllFiles();
    runToEnd(*window);
    QCOMPARE(workerCalls().size(), std::size_t{2});
    QCOMPARE(workerCalls()[1].sizeText, std::string("160"));

    // The next start shows and uses the preset last chosen.
    window.reset();
    auto again = startMainWindow();
    presets = again->findChild<tz::app::RadioGroup*>(QStringLiteral("RadioGroup1"));
    QCOMPARE(presets->itemIndex(), 1);
    QCOMPARE(again->findChild<QLineEdit*>(QStringLiteral("Edit5"))->text(), QStringLiteral("160"));
    const auto stored = tz::readRawValue(tz::kProgramKey, "OutputSize");
    QVERIFY(stored.has_value());
    QVERIFY(stored->second == std::vector<std::uint8_t>({'1', '6', '0', 0, 0}));
}

void TestMainWindow::storedPresetThatIsNoPresetReadsAsDefault() {
    tz::writeSetting(tz::kProgramKey, "OutputSize", "999");
    auto window = startMainWindow();
    QCOMPARE(window->findChild<tz::app::RadioGroup*>(QStringLiteral("RadioGroup1"))->itemIndex(),
             4);
    QCOMPARE(window->findChild<QLineEdit*>(QStringLiteral("Edit5"))->text(), QStringLiteral("640"));
}

void TestMainWindow::optionsAreRememberedAndReachTheRun() {
    const QString folder = makeFolder(QStringLiteral("options"));
    tz::test::writePicture(folder + QStringLiteral("/a.bmp"), 4, 4);
    std::vector<std::pair<bool, bool>> seen;
    std::mutex seenMutex;
    auto window = startMainWindow();
    window->setFileResizer([&](const std::filesystem::path&, const std::filesystem::path&,
                               const tz::RunDescription& run) {
        std::lock_guard lock(seenMutex);
        seen.emplace_back(run.keepDate, run.shrinkOnly);
    });
    browseTo(*window, folder);
    window->selectAllFiles();
    runToEnd(*window);
    window->findChild<QAction*>(QStringLiteral("KeepOriginalDates"))->trigger();
    window->selectAllFiles();
    runToEnd(*window);
    window->findChild<QAction*>(QStringLiteral("NeverEnlarge"))->trigger();
    window->findChild<QAction*>(QStringLiteral("KeepOriginalDates"))->trigger();
    window->selectAllFiles();
    runToEnd(*window);
    QVERIFY(
        (seen == std::vector<std::pair<bool, bool>>{{false, false}, {true, false}, {false, true}}));

    window.reset();
    auto again = startMainWindow();
    QVERIFY(!again->findChild<QAction*>(QStringLiteral("KeepOriginalDates"))->isChecked());
    QVERIFY(again->findChild<QAction*>(QStringLiteral("NeverEnlarge"))->isChecked());
    QVERIFY(m_boxes.empty());
}

void TestMainWindow::runDispatchesByUpperCasedExtension() {
    const QString folder = makeFolder(QStringLiteral("mixed"));
    for (const char* name : {"a.gif", "B.JPG", "c.bmp", "PHOTO.Jpg", "skipped.jpg"}) {
        tz::test::writePicture(folder + QLatin1Char('/') + QString::fromLatin1(name), 2, 2);
    }
    auto window = startMainWindow();
    browseTo(*window, folder);
    fakeWorkers(*window);
    QListWidget* list = fileList(*window);
    // Names the mask never lists still count a step when they are in the list and selected.
    list->addItem(QStringLiteral("x.tiff"));
    list->addItem(QStringLiteral("y.jpg.txt"));
    list->selectAll();
    list->item(list->row(list->findItems(QStringLiteral("skipped.jpg"), Qt::MatchExactly)[0]))
        ->setSelected(false);
    QProgressBar* progress = progressBar(*window);
    startButton(*window)->click();
    QVERIFY(progress->isVisible());
    QCOMPARE(progress->maximum(), 6);
    QTRY_VERIFY(!window->runInProgress());

    std::vector<std::pair<tz::PictureFormat, std::string>> calls;
    for (const WorkerCall& call : workerCalls()) {
        calls.emplace_back(call.format, call.name);
        // Outputs go into "resized" in the browsed folder, whatever the current folder.
        QCOMPARE(QString::fromStdString(call.output.string()),
                 folder + QStringLiteral("/resized/") + QString::fromStdString(call.name));
    }
    const std::vector<std::pair<tz::PictureFormat, std::string>> expected{
        {tz::PictureFormat::Gif, "a.gif"},
        {tz::PictureFormat::Jpeg, "B.JPG"},
        {tz::PictureFormat::Bmp, "c.bmp"},
        {tz::PictureFormat::Jpeg, "PHOTO.Jpg"}};
    QVERIFY(calls == expected);
    QVERIFY(progress->isHidden());
    // Four pictures written; the two names without a resized format count as steps only.
    QCOMPARE(statusText(*window),
             QStringLiteral("Done: 4 written to ") + folder + QStringLiteral("/resized"));
}

void TestMainWindow::runWithNoSelectionStillCreatesFolderAndRecords() {
    const QString folder = makeFolder(QStringLiteral("empty-run"));
    tz::test::writePicture(folder + QStringLiteral("/a.bmp"), 2, 2);
    auto window = startMainWindow();
    browseTo(*window, folder);
    fakeWorkers(*window);
    runToEnd(*window);
    QVERIFY(workerCalls().empty());
    QVERIFY(QFileInfo(folder + QStringLiteral("/resized")).isDir());
    QCOMPARE(window->recentFolder(0), folder);
    QVERIFY(progressBar(*window)->isHidden());
    QVERIFY(m_boxes.empty());
}

void TestMainWindow::failingFileStopsRunAtItsPosition() {
    const QString folder = makeFolder(QStringLiteral("failing"));
    for (int index = 1; index <= 10; ++index) {
        tz::test::writePicture(
            folder + QStringLiteral("/%1.bmp").arg(index, 2, 10, QLatin1Char('0')), 2, 2);
    }
    auto window = startMainWindow();
    browseTo(*window, folder);
    fakeWorkers(*window, std::string("05.bmp"));
    QProgressBar* progress = progressBar(*window);
    int valueAtBox = -1;
    bool visibleAtBox = false;
    tz::app::setMessageBoxHook([&](QMessageBox::Icon icon, const QString& caption,
                                   const QString& text, QMessageBox::StandardButtons buttons) {
        valueAtBox = progress->value();
        visibleAtBox = progress->isVisible();
        m_boxes.push_back({icon, caption, text, buttons});
        return QMessageBox::Ok;
    });
    window->selectAllFiles();
    runToEnd(*window);

    QCOMPARE(workerCalls().size(), std::size_t{4});
    QCOMPARE(workerCalls().back().name, std::string("04.bmp"));
    QCOMPARE(m_boxes.size(), std::size_t{1});
    QCOMPARE(m_boxes[0].icon, QMessageBox::Critical);
    // The file's name on one line, the error's message on the next.
    QCOMPARE(m_boxes[0].text, QStringLiteral("05.bmp\nJPEG error #53"));
    QVERIFY(visibleAtBox);
    QCOMPARE(valueAtBox, 4);
    QCOMPARE(progress->maximum(), 10);
    QVERIFY(progress->isHidden());  // once the box is dismissed
    // No refresh ran: the selection is still all ten.
    QCOMPARE(fileList(*window)->selectedItems().size(), 10);
    // The controls come back after the failure.
    QVERIFY(fileList(*window)->isEnabled());
    QVERIFY(startButton(*window)->isEnabled());
    QCOMPARE(startButton(*window)->text(), QStringLiteral("Start resizing!"));
}

void TestMainWindow::runGoesOnWhileEventsAreProcessed() {
    const QString folder = makeFolder(QStringLiteral("busy"));
    for (const char* name : {"a.bmp", "b.bmp", "c.bmp"}) {
        tz::test::writePicture(folder + QLatin1Char('/') + QString::fromLatin1(name), 2, 2);
    }
    auto window = startMainWindow();
    browseTo(*window, folder);
    window->selectAllFiles();
    Gate gate;
    std::atomic<int> calls{0};
    std::atomic<bool> sizeKept{true};
    window->setFileResizer([&](const std::filesystem::path&, const std::filesystem::path&,
                               const tz::RunDescription& run) {
        gate.pass();
        sizeKept = sizeKept && run.sizeText == "640";
        calls.fetch_add(1);
    });
    startButton(*window)->click();
    QTRY_VERIFY(gate.waiting.load() >= 1);

    // The window takes input: timers fire, the preset list answers, the button reads "Stop".
    bool timerFired = false;
    QTimer::singleShot(10, window.get(), [&] { timerFired = true; });
    QTRY_VERIFY(timerFired);
    QVERIFY(window->runInProgress());
    QCOMPARE(startButton(*window)->text(), QStringLiteral("Stop"));
    QCOMPARE(progressBar(*window)->text(), QStringLiteral("0 of 3"));
    QTest::mouseClick(window->findChild<QRadioButton*>(QStringLiteral("RadioGroup1Item1")),
                      Qt::LeftButton);
    QCOMPARE(window->findChild<QLineEdit*>(QStringLiteral("Edit5"))->text(), QStringLiteral("160"));
    QStringList enabledDuringRun;
    for (const char* name : {"DriveComboBox10", "DirectoryListBox10", "FileListBox10", "Button9",
                             "Button14", "RadioGroup1"}) {
        if (window->findChild<QWidget*>(QString::fromLatin1(name))->isEnabled()) {
            enabledDuringRun.append(QString::fromLatin1(name));
        }
    }
    for (const char* name : {"M15", "M16"}) {
        if (window->findChild<QMenu*>(QString::fromLatin1(name))->menuAction()->isEnabled()) {
            enabledDuringRun.append(QString::fromLatin1(name));
        }
    }
    if (window->findChild<QAction*>(QStringLiteral("P1"))->isEnabled()) {
        enabledDuringRun.append(QStringLiteral("P1"));
    }
    // The button stops the run; the preset list changes the next run's size.
    QCOMPARE(enabledDuringRun, QStringList({"Button14", "RadioGroup1"}));

    gate.open = true;
    QTRY_VERIFY(!window->runInProgress());
    QCOMPARE(calls.load(), 3);
    QVERIFY(sizeKept);  // the run kept the size it started with
    QVERIFY(fileList(*window)->isEnabled());
    QVERIFY(window->findChild<QMenu*>(QStringLiteral("M15"))->menuAction()->isEnabled());
    QCOMPARE(startButton(*window)->text(), QStringLiteral("Start resizing!"));
    QCOMPARE(statusText(*window),
             QStringLiteral("Done: 3 written to ") + folder + QStringLiteral("/resized"));
}

void TestMainWindow::stopMidRunSaysHowFarItGot() {
    const QString folder = makeFolder(QStringLiteral("stop"));
    for (int index = 1; index <= 10; ++index) {
        tz::test::writePicture(
            folder + QStringLiteral("/%1.bmp").arg(index, 2, 10, QLatin1Char('0')), 2, 2);
    }
    auto window = startMainWindow();
    browseTo(*window, folder);
    window->selectAllFiles();
    window->setRunJobs(2);
    Gate gate;
    window->setFileResizer([&](const std::filesystem::path& source,
                               const std::filesystem::path& output, const tz::RunDescription& run) {
        if (source.filename() == "03.bmp") {
            gate.pass();
        }
        recordCall(workerCall(source, output, run));
    });
    startButton(*window)->click();
    QTRY_VERIFY(gate.waiting.load() == 1);
    QTRY_COMPARE(progressBar(*window)->value(), 2);
    startButton(*window)->click();  // "Stop"
    QVERIFY(window->runInProgress());
    QVERIFY(!startButton(*window)->isEnabled());
    gate.open = true;
    QTRY_VERIFY(!window->runInProgress());
    QCOMPARE(statusText(*window), QStringLiteral("Stopped after 2 of 10"));
    QVERIFY(progressBar(*window)->isHidden());
    QVERIFY(startButton(*window)->isEnabled());
    QCOMPARE(startButton(*window)->text(), QStringLiteral("Start resizing!"));
    // At most the files in flight were taken after the first two.
    QVERIFY(workerCalls().size() <= 4);
    QVERIFY(m_boxes.empty());
}

void TestMainWindow::stopMidRunLeavesOnlyWholeOutputs() {
    const QString folder = makeFolder(QStringLiteral("stop-real"));
    for (int index = 1; index <= 40; ++index) {
        tz::test::writePicture(
            folder + QStringLiteral("/%1.jpg").arg(index, 2, 10, QLatin1Char('0')), 900, 700);
    }
    auto window = startMainWindow();
    browseTo(*window, folder);
    window->selectAllFiles();
    startButton(*window)->click();
    QTRY_VERIFY(progressBar(*window)->value() >= 1);
    startButton(*window)->click();  // "Stop"
    QTRY_VERIFY_WITH_TIMEOUT(!window->runInProgress(), 60'000);
    const QRegularExpression stopped(QStringLiteral("^Stopped after (\\d+) of 40$"));
    const QRegularExpressionMatch match = stopped.match(statusText(*window));
    QVERIFY2(match.hasMatch(), qPrintable(statusText(*window)));
    const int settled = match.captured(1).toInt();
    QVERIFY(settled >= 1 && settled < 40);
    // Exactly the settled files were written, in list order, whole; nothing else is there.
    const QStringList written = QDir(folder + QStringLiteral("/resized"))
                                    .entryList(QDir::Files | QDir::Hidden | QDir::System);
    QCOMPARE(written.size(), settled);
    for (int index = 0; index < settled; ++index) {
        QCOMPARE(written[index], QStringLiteral("%1.jpg").arg(index + 1, 2, 10, QLatin1Char('0')));
        QCOMPARE(jpegSize(folder + QStringLiteral("/resized/") + written[index]), QSize(640, 498));
    }
}

void TestMainWindow::closeMidRunAsksThenStopsAndCloses() {
    const QString folder = makeFolder(QStringLiteral("close"));
    for (int index = 1; index <= 6; ++index) {
        tz::test::writePicture(folder + QStringLiteral("/%1.bmp").arg(index), 2, 2);
    }
    auto window = startMainWindow();
    browseTo(*window, folder);
    window->selectAllFiles();
    Gate gate;
    std::atomic<int> calls{0};
    window->setFileResizer(
        [&](const std::filesystem::path&, const std::filesystem::path&, const tz::RunDescription&) {
            gate.pass();
            calls.fetch_add(1);
        });
    startButton(*window)->click();
    QTRY_VERIFY(gate.waiting.load() >= 1);

    m_boxAnswer = QMessageBox::No;
    window->findChild<QAction*>(QStringLiteral("M19"))->trigger();  // File > Exit
    QCOMPARE(m_boxes.size(), std::size_t{1});
    QCOMPARE(m_boxes[0].icon, QMessageBox::Question);
    QCOMPARE(m_boxes[0].buttons, QMessageBox::Yes | QMessageBox::No);
    QVERIFY(window->isVisible());
    QVERIFY(window->runInProgress());

    m_boxAnswer = QMessageBox::Yes;
    window->close();
    QCOMPARE(m_boxes.size(), std::size_t{2});
    gate.open = true;
    QTRY_VERIFY(!window->isVisible());
    QVERIFY(!window->runInProgress());
    QVERIFY(!window->previewWindow()->isVisible());
    const int callsAtClose = calls.load();
    QVERIFY(callsAtClose <= 3);  // the files in flight at most, then nothing
    QTest::qWait(50);
    QCOMPARE(calls.load(), callsAtClose);
}

void TestMainWindow::destroyingWindowMidRunStopsTheWorkers() {
    const QString folder = makeFolder(QStringLiteral("gone"));
    for (int index = 1; index <= 20; ++index) {
        tz::test::writePicture(
            folder + QStringLiteral("/%1.bmp").arg(index, 2, 10, QLatin1Char('0')), 2, 2);
    }
    auto window = startMainWindow();
    browseTo(*window, folder);
    window->selectAllFiles();
    Gate gate;
    std::atomic<bool> windowGone{false};
    std::atomic<int> callsAfterWindow{0};
    window->setFileResizer(
        [&](const std::filesystem::path&, const std::filesystem::path&, const tz::RunDescription&) {
            if (windowGone) {
                callsAfterWindow.fetch_add(1);
            }
            gate.pass();
        });
    startButton(*window)->click();
    QTRY_VERIFY(gate.waiting.load() >= 1);
    // The workers are let go while the window is being destroyed, which waits for them.
    std::thread opener([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        gate.open = true;
    });
    window.reset();
    windowGone = true;
    opener.join();
    QTest::qWait(50);
    QCOMPARE(callsAfterWindow.load(), 0);
}

void TestMainWindow::recentListAfterRuns() {
    const QString a = makeFolder(QStringLiteral("A"));
    const QString b = makeFolder(QStringLiteral("B"));
    const QString lowerA = makeFolder(QStringLiteral("a"));
    auto window = startMainWindow();
    fakeWorkers(*window);
    auto recent = [&] {
        QStringList result;
        for (int index = 0; index < 5; ++index) {
            result.append(window->recentFolder(index));
        }
        return result;
    };
    const QString root = QStringLiteral("/");

    browseTo(*window, a);
    runToEnd(*window);
    QCOMPARE(recent(), QStringList({a, root, root, root, root}));
    browseTo(*window, b);
    QCOMPARE(recent(), QStringList({a, root, root, root, root}));  // browsing records nothing
    runToEnd(*window);
    QCOMPARE(recent(), QStringList({b, a, root, root, root}));
    browseTo(*window, a);
    runToEnd(*window);
    QCOMPARE(recent(), QStringList({b, a, root, root, root}));  // known: not moved up
    browseTo(*window, lowerA);
    runToEnd(*window);
    QCOMPARE(recent(), QStringList({lowerA, b, a, root, root}));  // letter case counts

    // The menu entries follow and lead back.
    QCOMPARE(window->findChild<QAction*>(QStringLiteral("M153"))->text(), a);
    window->findChild<QAction*>(QStringLiteral("M153"))->trigger();
    QCOMPARE(window->browsedFolder(), a);
    QCOMPARE(QDir::currentPath(), a);

    // The list survives the program.
    window.reset();
    auto again = startMainWindow();
    QCOMPARE(again->recentFolder(0), lowerA);
    QCOMPARE(again->browsedFolder(), lowerA);
}

void TestMainWindow::recentValuesStoredInStoreForm() {
    const QString photos = makeFolder(QStringLiteral("Photos"));
    auto window = startMainWindow();
    fakeWorkers(*window);
    browseTo(*window, photos);
    runToEnd(*window);
    const auto stored = tz::readRawValue(tz::kProgramKey, "Recent1");
    QVERIFY(stored.has_value());
    QCOMPARE(stored->first, tz::ValueType::String);
    const std::string text = photos.toStdString();
    std::vector<std::uint8_t> expected(text.begin(), text.end());
    expected.push_back(0);
    expected.push_back(0);
    QVERIFY(stored->second == expected);
    QCOMPARE(stored->second.size(), text.size() + 2);
    // The shift wrote the older entries too, each the default "/" in the same form.
    const auto second = tz::readRawValue(tz::kProgramKey, "Recent2");
    QVERIFY(second.has_value());
    QVERIFY(second->second == std::vector<std::uint8_t>({'/', 0, 0}));
}

void TestMainWindow::runWritesResizedCopiesLeavingSources() {
    const QString folder = makeFolder(QStringLiteral("real"));
    tz::test::writePicture(folder + QStringLiteral("/wide.jpg"), 300, 200);
    tz::test::writePicture(folder + QStringLiteral("/tall.gif"), 90, 300);
    tz::test::writePicture(folder + QStringLiteral("/square.BMP"), 250, 250);
    const QStringList names{"wide.jpg", "tall.gif", "square.BMP"};
    std::vector<QByteArray> before;
    for (const QString& name : names) {
        before.push_back(fileBytes(folder + QLatin1Char('/') + name));
    }
    auto window = startMainWindow();
    browseTo(*window, folder);
    QTest::mouseClick(window->findChild<QRadioButton*>(QStringLiteral("RadioGroup1Item0")),
                      Qt::LeftButton);  // 120 pixels
    window->selectAllFiles();
    runToEnd(*window);
    QVERIFY2(m_boxes.empty(), m_boxes.empty() ? "" : qPrintable(m_boxes[0].text));

    const QString out = folder + QStringLiteral("/resized/");
    QCOMPARE(jpegSize(out + QStringLiteral("wide.jpg")), QSize(120, 80));
    QCOMPARE(gifSize(out + QStringLiteral("tall.gif")), QSize(36, 120));
    QCOMPARE(bmpSize(out + QStringLiteral("square.BMP")), QSize(120, 120));
    for (int index = 0; index < names.size(); ++index) {
        QCOMPARE(fileBytes(folder + QLatin1Char('/') + names[index]), before[index]);
    }
    // The background run writes exactly what the one entry point writes for the same request.
    for (const QString& name : names) {
        const QString reference = m_homePath + QStringLiteral("/reference-") + name;
        tz::ResizeRequest request;
        request.size = 120;
        tz::resizeFile((folder + QLatin1Char('/') + name).toStdString(), reference.toStdString(),
                       request);
        QCOMPARE(fileBytes(out + name), fileBytes(reference));
    }
    // The refreshed list does not show the outputs, and only the focused item is selected.
    QCOMPARE(fileList(*window)->count(), 3);
    QVERIFY(fileList(*window)->selectedItems().size() <= 1);
}

void TestMainWindow::corruptFifthOfTenStopsWithFourWritten() {
    const QString folder = makeFolder(QStringLiteral("corrupt"));
    for (int index = 1; index <= 10; ++index) {
        const QString file = folder + QStringLiteral("/%1.jpg").arg(index, 2, 10, QLatin1Char('0'));
        if (index == 5) {
            tz::test::writeFile(file, {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07});
        } else {
            tz::test::writePicture(file, 40, 30);
        }
    }
    auto window = startMainWindow();
    browseTo(*window, folder);
    window->setRunJobs(2);
    QProgressBar* progress = progressBar(*window);
    int valueAtBox = -1;
    tz::app::setMessageBoxHook([&](QMessageBox::Icon icon, const QString& caption,
                                   const QString& text, QMessageBox::StandardButtons buttons) {
        valueAtBox = progress->value();
        m_boxes.push_back({icon, caption, text, buttons});
        return QMessageBox::Ok;
    });
    window->selectAllFiles();
    runToEnd(*window);

    // Files run side by side, yet nothing after the failing file is written.
    const QStringList written = QDir(folder + QStringLiteral("/resized")).entryList(QDir::Files);
    QCOMPARE(written, QStringList({"01.jpg", "02.jpg", "03.jpg", "04.jpg"}));
    QCOMPARE(m_boxes.size(), std::size_t{1});
    QVERIFY(m_boxes[0].text.startsWith(QStringLiteral("05.jpg\n")));
    QVERIFY(m_boxes[0].text.size() > 7);
    QCOMPARE(valueAtBox, 4);
    QVERIFY(progress->isHidden());
}

// ---------------------------------------------------------------------------------------------
// File browser

void TestMainWindow::fileListShowsMaskedPicturesSorted() {
    const QString folder = makeFolder(QStringLiteral("mask"));
    for (const char* name : {"b.JPG", "A.gif", "c.bmp", "d.jpeg", "e.png", ".hidden.jpg", "F.Gif",
                             "notes.txt", "g.HEIC", "h.tif"}) {
        tz::test::writeFile(folder + QLatin1Char('/') + QString::fromLatin1(name), {1});
    }
    QVERIFY(QDir(folder).mkdir(QStringLiteral("folder.jpg")));
    auto window = startMainWindow();
    browseTo(*window, folder);
    QStringList shown;
    for (int row = 0; row < fileList(*window)->count(); ++row) {
        shown.append(fileList(*window)->item(row)->text());
    }
    QCOMPARE(shown, QStringList({"A.gif", "b.JPG", "c.bmp", "d.jpeg", "e.png", "F.Gif", "g.HEIC"}));
    // The folder list shows the path down to the folder, then its subfolders.
    auto* folders = window->findChild<QListWidget*>(QStringLiteral("DirectoryListBox10"));
    QCOMPARE(folders->item(folders->count() - 1)->text(), QStringLiteral("folder.jpg"));
    QCOMPARE(folders->item(0)->text(), QStringLiteral("/"));
}

void TestMainWindow::ctrlASelectsAllButCtrlShiftADoesNot() {
    const QString folder = makeFolder(QStringLiteral("keys"));
    for (const char* name : {"1.bmp", "2.bmp", "3.bmp", "4.bmp"}) {
        tz::test::writePicture(folder + QLatin1Char('/') + QString::fromLatin1(name), 2, 2);
    }
    auto window = startMainWindow();
    browseTo(*window, folder);
    QListWidget* list = fileList(*window);
    clickRow(*window, 1);
    QTest::keyClick(list, Qt::Key_A, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(list->selectedItems().size(), 1);
    QTest::keyClick(list, Qt::Key_A, Qt::ControlModifier | Qt::AltModifier);
    QCOMPARE(list->selectedItems().size(), 1);
    QTest::keyClick(list, Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(list->selectedItems().size(), 4);
    clickRow(*window, 2);
    QCOMPARE(list->selectedItems().size(), 1);
    window->findChild<QPushButton*>(QStringLiteral("Button9"))->click();
    QCOMPARE(list->selectedItems().size(), 4);
}

void TestMainWindow::deleteMovesOnlyFocusedFileToTrash() {
    const QString folder = makeFolder(QStringLiteral("trash"));
    const QStringList names{"1.bmp", "2.bmp", "3.bmp", "4.bmp", "5.bmp"};
    for (const QString& name : names) {
        tz::test::writePicture(folder + QLatin1Char('/') + name, 2, 2);
    }
    auto window = startMainWindow();
    browseTo(*window, folder);
    QListWidget* list = fileList(*window);
    clickRow(*window, 0);
    clickRow(*window, 4, Qt::ShiftModifier);
    clickRow(*window, 1, Qt::ControlModifier);
    clickRow(*window, 1, Qt::ControlModifier);  // focused on 2.bmp, selected again
    QCOMPARE(list->currentRow(), 1);
    QCOMPARE(list->selectedItems().size(), 5);
    m_boxAnswer = QMessageBox::Yes;
    QTest::keyClick(list, Qt::Key_Delete, Qt::ShiftModifier);

    QCOMPARE(m_boxes.size(), std::size_t{1});
    QCOMPARE(m_boxes[0].icon, QMessageBox::Question);
    QVERIFY(m_boxes[0].text.contains(QStringLiteral("2.bmp")));
    QCOMPARE(QDir(folder).entryList(QDir::Files),
             QStringList({"1.bmp", "3.bmp", "4.bmp", "5.bmp"}));
    const QString trash = m_homePath + QStringLiteral("/data/Trash");
    QVERIFY(QFileInfo::exists(trash + QStringLiteral("/files/2.bmp")));
    QVERIFY(QFileInfo::exists(trash + QStringLiteral("/info/2.bmp.trashinfo")));
    // The next file takes the focus and is the only one selected.
    QCOMPARE(list->currentItem()->text(), QStringLiteral("3.bmp"));
    QCOMPARE(list->selectedItems().size(), 1);
    QVERIFY(list->currentItem()->isSelected());
}

void TestMainWindow::deleteOfLastFileLeavesNoSelection() {
    const QString folder = makeFolder(QStringLiteral("last"));
    tz::test::writePicture(folder + QStringLiteral("/1.bmp"), 2, 2);
    tz::test::writePicture(folder + QStringLiteral("/2.bmp"), 2, 2);
    auto window = startMainWindow();
    browseTo(*window, folder);
    clickRow(*window, 1);
    m_boxAnswer = QMessageBox::Yes;
    QTest::keyClick(fileList(*window), Qt::Key_Delete);
    QCOMPARE(fileList(*window)->count(), 1);
    QVERIFY(fileList(*window)->selectedItems().isEmpty());
    QVERIFY(window->focusedFile().isEmpty());
}

void TestMainWindow::declinedDeleteKeepsFile() {
    const QString folder = makeFolder(QStringLiteral("keep"));
    tz::test::writePicture(folder + QStringLiteral("/1.bmp"), 2, 2);
    auto window = startMainWindow();
    browseTo(*window, folder);
    clickRow(*window, 0);
    m_boxAnswer = QMessageBox::No;
    QTest::keyClick(fileList(*window), Qt::Key_Delete);
    QCOMPARE(m_boxes.size(), std::size_t{1});
    QVERIFY(QFileInfo::exists(folder + QStringLiteral("/1.bmp")));
    // Nothing selected and focused: no question, nothing moved.
    fileList(*window)->clearSelection();
    QTest::keyClick(fileList(*window), Qt::Key_Delete);
    QCOMPARE(m_boxes.size(), std::size_t{1});
}

void TestMainWindow::refreshKeepsOnlyFocusedItemSelected() {
    const QString folder = makeFolder(QStringLiteral("refresh"));
    for (const char* name : {"1.bmp", "2.bmp", "3.bmp"}) {
        tz::test::writePicture(folder + QLatin1Char('/') + QString::fromLatin1(name), 2, 2);
    }
    auto window = startMainWindow();
    browseTo(*window, folder);
    clickRow(*window, 0);
    clickRow(*window, 2, Qt::ShiftModifier);
    tz::test::writePicture(folder + QStringLiteral("/0.bmp"), 2, 2);
    QDir::setCurrent(m_homePath);
    window->findChild<QAction*>(QStringLiteral("P1"))->trigger();
    QCOMPARE(fileList(*window)->count(), 4);
    QCOMPARE(fileList(*window)->currentRow(), 2);
    QCOMPARE(fileList(*window)->selectedItems().size(), 1);
    QCOMPARE(fileList(*window)->currentItem()->text(), QStringLiteral("2.bmp"));
    QCOMPARE(QDir::currentPath(), folder);  // a refresh re-enters the folder
}

void TestMainWindow::userSelectionFeedsPreviewProgramChangesDoNot() {
    const QString folder = makeFolder(QStringLiteral("feed"));
    tz::test::writePicture(folder + QStringLiteral("/a.bmp"), 40, 20);
    tz::test::writePicture(folder + QStringLiteral("/b.bmp"), 80, 40);
    tz::test::writeFile(folder + QStringLiteral("/c.bmp"), {'n', 'o', 'p', 'e'});
    auto window = startMainWindow();
    browseTo(*window, folder);
    QWidget* image = window->previewWindow()->pictureView();
    clickRow(*window, 0);
    QTRY_COMPARE(image->size(), QSize(10, 5));
    fileList(*window)->setCurrentRow(1);  // by the program: no feed
    QVERIFY(!window->previewWindow()->filePending());
    QTest::keyClick(fileList(*window), Qt::Key_Down);  // by the user: c.bmp cannot be read
    QCOMPARE(window->focusedFile(), folder + QStringLiteral("/c.bmp"));
    QTRY_VERIFY(!window->previewWindow()->filePending());
    QCOMPARE(image->size(), QSize(10, 5));
    QTest::keyClick(fileList(*window), Qt::Key_Up);
    QTRY_COMPARE(image->size(), QSize(20, 10));
}

void TestMainWindow::ctrlClickingFocusedItemLeavesNoCurrentFile() {
    const QString folder = makeFolder(QStringLiteral("ctrl"));
    tz::test::writePicture(folder + QStringLiteral("/a.bmp"), 8, 8);
    auto window = startMainWindow();
    browseTo(*window, folder);
    clickRow(*window, 0);
    QCOMPARE(window->focusedFile(), folder + QStringLiteral("/a.bmp"));
    clickRow(*window, 0, Qt::ControlModifier);
    QVERIFY(window->focusedFile().isEmpty());
    QTRY_VERIFY(!window->previewWindow()->filePending());
    QCOMPARE(window->previewWindow()->pictureView()->size(), QSize(2, 2));
}

void TestMainWindow::doubleClickOpensViewer() {
    const QString folder = makeFolder(QStringLiteral("viewer"));
    tz::test::writePicture(folder + QStringLiteral("/a.bmp"), 80, 60);
    tz::test::writeFile(folder + QStringLiteral("/b.bmp"), {'B', 'M'});
    auto window = startMainWindow();
    window->setScreenSizes([] { return QSize(1024, 768); }, [] { return QSize(1024, 768); });
    browseTo(*window, folder);
    doubleClickRow(*window, 1);
    QVERIFY(!window->viewer()->isVisible());  // unreadable: nothing opens, no message
    doubleClickRow(*window, 0);
    QVERIFY(window->viewer()->isVisible());
    QTRY_COMPARE(window->previewWindow()->pictureView()->size(),
                 QSize(20, 15));  // fed by the first click
    QVERIFY(m_boxes.empty());
}

// ---------------------------------------------------------------------------------------------
// Recent and special folders

void TestMainWindow::unreachableRecentFolderShowsErrorAndStays() {
    const QString here = makeFolder(QStringLiteral("here"));
    const QString gone = makeFolder(QStringLiteral("gone"));
    tz::writeSetting(tz::kProgramKey, "Recent2", gone.toStdString());
    auto window = startMainWindow();
    browseTo(*window, here);
    QVERIFY(QDir(gone).removeRecursively());
    window->findChild<QAction*>(QStringLiteral("M152"))->trigger();
    QCOMPARE(m_boxes.size(), std::size_t{1});
    QCOMPARE(m_boxes[0].icon, QMessageBox::Critical);
    QVERIFY(m_boxes[0].text.contains(gone));
    QCOMPARE(window->browsedFolder(), here);
    QCOMPARE(QDir::currentPath(), here);
    QCOMPARE(window->recentFolder(1), gone);
}

void TestMainWindow::specialFoldersFromUserDirs() {
    const QString pictures = makeFolder(QStringLiteral("Bilder"));
    const QString documents = makeFolder(QStringLiteral("Dokumente"));
    QFile dirs(m_homePath + QStringLiteral("/config/user-dirs.dirs"));
    QVERIFY(dirs.open(QIODevice::WriteOnly));
    dirs.write("XDG_PICTURES_DIR=\"$HOME/Bilder\"\nXDG_DOCUMENTS_DIR=\"" + documents.toUtf8() +
               "\"\n");
    dirs.close();
    auto window = startMainWindow();
    window->findChild<QAction*>(QStringLiteral("MyPictures1"))->trigger();
    QCOMPARE(window->browsedFolder(), pictures);
    window->findChild<QAction*>(QStringLiteral("MyDocuments1"))->trigger();
    QCOMPARE(window->browsedFolder(), documents);
    // No desktop and no recent-files folder named: the browser stays.
    window->findChild<QAction*>(QStringLiteral("Desktop1"))->trigger();
    window->findChild<QAction*>(QStringLiteral("RecentFiles1"))->trigger();
    QCOMPARE(window->browsedFolder(), documents);
    QVERIFY(m_boxes.empty());
    // Special folders are not recorded.
    QCOMPARE(window->recentFolder(0), QStringLiteral("/"));
}

void TestMainWindow::emptyPathAndCurrentFolderDoNothing() {
    const QString folder = makeFolder(QStringLiteral("stay"));
    tz::test::writePicture(folder + QStringLiteral("/a.bmp"), 2, 2);
    auto window = startMainWindow();
    browseTo(*window, folder);
    clickRow(*window, 0);
    window->moveBrowserTo(QString());
    window->moveBrowserTo(folder + QStringLiteral("/"));
    QCOMPARE(window->browsedFolder(), folder);
    QCOMPARE(fileList(*window)->selectedItems().size(), 1);  // not re-read
}

// ---------------------------------------------------------------------------------------------
// Fitting the screen, keyboard, names, trash, store, opening from outside

void TestMainWindow::minimumSizeKeepsEveryControlVisible() {
    auto window = startMainWindow();
    window->resize(1, 1);
    QVERIFY(window->width() >= 463);
    QWidget* client = window->centralWidget();
    for (const char* name : {"Button14", "Button9", "RadioGroup1", "FileListBox10",
                             "DirectoryListBox10", "DriveComboBox10", "ProgressBar1"}) {
        auto* control = window->findChild<QWidget*>(QString::fromLatin1(name));
        // The control lies whole inside its parent, and that parent inside its own, up to the
        // client area.
        for (QWidget* widget = control; widget != client; widget = widget->parentWidget()) {
            QVERIFY2(widget->parentWidget()->rect().contains(widget->geometry()), name);
        }
    }
    // The progress bar stays clear of the frame above it.
    const QRect frame = window->findChild<QWidget*>(QStringLiteral("GroupBox1"))->geometry();
    QVERIFY(progressBar(*window)->geometry().top() > frame.bottom());
}

void TestMainWindow::burstOfSelectionChangesDecodesOnce() {
    const QString folder = makeFolder(QStringLiteral("burst"));
    for (int index = 0; index < 12; ++index) {
        tz::test::writePicture(
            folder + QStringLiteral("/%1.bmp").arg(index, 2, 10, QLatin1Char('0')), 8 * (index + 1),
            8);
    }
    auto window = startMainWindow();
    browseTo(*window, folder);
    QStringList decoded;
    window->previewWindow()->setPictureLoader(
        [&](const std::filesystem::path& file, const ShownSizeRule& rule) {
            decoded.append(QString::fromStdString(file.filename().string()));
            return loadReducedPicture(file, rule);
        });
    clickRow(*window, 0);
    QTRY_VERIFY(!window->previewWindow()->filePending());
    QCOMPARE(decoded, QStringList{"00.bmp"});
    // Arrowing through the list faster than pictures decode: only where it stops is decoded.
    for (int step = 0; step < 11; ++step) {
        QTest::keyClick(fileList(*window), Qt::Key_Down);
    }
    QTRY_VERIFY(!window->previewWindow()->filePending());
    QCOMPARE(decoded, QStringList({"00.bmp", "11.bmp"}));
    QCOMPARE(window->previewWindow()->pictureView()->size(), QSize(24, 2));
}

void TestMainWindow::keyboardReachesMenusAndCheckedPreset() {
    auto window = startMainWindow();
    QApplication::setActiveWindow(window.get());
    QTRY_VERIFY(window->isActiveWindow());
    QTest::keyClick(window.get(), Qt::Key_F10);
    QCOMPARE(window->menuBar()->activeAction(),
             window->findChild<QMenu*>(QStringLiteral("File1"))->menuAction());
    QTest::keyClick(window->menuBar(), Qt::Key_Escape);

    // Tab into the presets lands on the checked entry, wherever it is.
    QTest::mouseClick(window->findChild<QRadioButton*>(QStringLiteral("RadioGroup1Item7")),
                      Qt::LeftButton);
    window->findChild<QWidget*>(QStringLiteral("Button9"))->setFocus(Qt::TabFocusReason);
    QWidget* next = window->findChild<QWidget*>(QStringLiteral("Button9"))->nextInFocusChain();
    while (!(next->focusPolicy() & Qt::TabFocus) || !next->isEnabled()) {
        next = next->nextInFocusChain();
    }
    QCOMPARE(next->objectName(), QStringLiteral("RadioGroup1Item7"));
}

void TestMainWindow::nonUtf8NameThroughWholeRun() {
    const QString folder = makeFolder(QStringLiteral("usb"));
    // Latin-1 bytes, as old media write them: not valid UTF-8.
    const std::string name = "Caf\xE9 \xE0 Paris.jpg";
    const std::filesystem::path source = std::filesystem::path(folder.toStdString()) / name;
    {
        tz::JpegImage jpeg;
        jpeg.assign(tz::test::gradientBitmap(64, 48));
        jpeg.saveToFile(source);
    }
    auto window = startMainWindow();
    browseTo(*window, folder);
    QCOMPARE(fileList(*window)->count(), 1);
    const QString shown = fileList(*window)->item(0)->text();
    QVERIFY(shown.startsWith(QStringLiteral("Caf")));
    QVERIFY(shown.contains(QChar::ReplacementCharacter));

    clickRow(*window, 0);  // previewed
    QTRY_COMPARE(window->previewWindow()->pictureView()->size(), QSize(16, 12));
    QTest::mouseClick(window->findChild<QRadioButton*>(QStringLiteral("RadioGroup1Item0")),
                      Qt::LeftButton);  // 120 pixels
    window->selectAllFiles();
    runToEnd(*window);  // resized
    QVERIFY2(m_boxes.empty(), m_boxes.empty() ? "" : qPrintable(m_boxes[0].text));
    const std::filesystem::path output = source.parent_path() / "resized" / name;
    QVERIFY(std::filesystem::is_regular_file(output));  // under the source's exact bytes
    tz::JpegImage resized;
    resized.loadFromFile(output);
    QCOMPARE(QSize(resized.width(), resized.height()), QSize(120, 90));

    clickRow(*window, 0);
    m_boxAnswer = QMessageBox::Yes;
    QTest::keyClick(fileList(*window), Qt::Key_Delete);  // deleted
    QVERIFY(!std::filesystem::exists(source));
    QVERIFY(std::filesystem::exists(std::filesystem::path(m_homePath.toStdString()) / "data" /
                                    "Trash" / "files" / name));
    QCOMPARE(fileList(*window)->count(), 0);
}

void TestMainWindow::deleteWithoutLocalShareCreatesTheHomeTrash() {
    qunsetenv("XDG_DATA_HOME");
    const QString folder = makeFolder(QStringLiteral("fresh"));
    tz::test::writePicture(folder + QStringLiteral("/1.bmp"), 2, 2);
    QVERIFY(!QFileInfo::exists(m_homePath + QStringLiteral("/.local")));
    auto window = startMainWindow();
    browseTo(*window, folder);
    clickRow(*window, 0);
    m_boxAnswer = QMessageBox::Yes;
    QTest::keyClick(fileList(*window), Qt::Key_Delete);
    const QString trash = m_homePath + QStringLiteral("/.local/share/Trash");
    QVERIFY(QFileInfo::exists(trash + QStringLiteral("/files/1.bmp")));
    QVERIFY(QFileInfo::exists(trash + QStringLiteral("/info/1.bmp.trashinfo")));
    // Nothing was created in the picture folder.
    QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList());
    QCOMPARE(m_boxes.size(), std::size_t{1});  // the question only
}

void TestMainWindow::failedTrashShowsErrorAndKeepsFile() {
    const QString folder = makeFolder(QStringLiteral("kept"));
    tz::test::writePicture(folder + QStringLiteral("/1.bmp"), 2, 2);
    // The home trash cannot be made: its "files" is a file.
    QVERIFY(QDir().mkpath(m_homePath + QStringLiteral("/data/Trash")));
    tz::test::writeFile(m_homePath + QStringLiteral("/data/Trash/files"), tz::test::Bytes{'x'});
    auto window = startMainWindow();
    browseTo(*window, folder);
    clickRow(*window, 0);
    m_boxAnswer = QMessageBox::Yes;
    QTest::keyClick(fileList(*window), Qt::Key_Delete);
    QCOMPARE(m_boxes.size(), std::size_t{2});
    QCOMPARE(m_boxes[1].icon, QMessageBox::Critical);
    QVERIFY(m_boxes[1].text.startsWith(
        QStringLiteral("\"%1/1.bmp\" could not be moved to the trash.\n").arg(folder)));
    QVERIFY(QFileInfo::exists(folder + QStringLiteral("/1.bmp")));
}

void TestMainWindow::damagedStoreIsMovedAsideAndRunsWork() {
    const QString storeFolder = m_homePath + QStringLiteral("/config/tovan-zevediz");
    QVERIFY(QDir().mkpath(storeFolder));
    tz::test::writeFile(storeFolder + QStringLiteral("/registry"),
                        tz::test::Bytes{'j', 'u', 'n', 'k', '\n'});
    const QString folder = makeFolder(QStringLiteral("after"));
    tz::test::writePicture(folder + QStringLiteral("/a.bmp"), 2, 2);
    auto window = startMainWindow();
    QCOMPARE(m_boxes.size(), std::size_t{1});  // told once, where it was kept
    const QStringList kept =
        QDir(storeFolder).entryList({QStringLiteral("registry.damaged-*")}, QDir::Files);
    QCOMPARE(kept.size(), 1);
    QVERIFY(m_boxes[0].text.contains(storeFolder + QLatin1Char('/') + kept[0]));
    QCOMPARE(fileBytes(storeFolder + QLatin1Char('/') + kept[0]), QByteArray("junk\n"));

    browseTo(*window, folder);
    fakeWorkers(*window);
    window->selectAllFiles();
    runToEnd(*window);
    QCOMPARE(workerCalls().size(), std::size_t{1});
    QCOMPARE(window->recentFolder(0), folder);
    QCOMPARE(m_boxes.size(), std::size_t{1});
}

void TestMainWindow::specialFoldersDisabledWhenMissing() {
    const QString pictures = makeFolder(QStringLiteral("Pictures"));  // the default, no file
    auto window = startMainWindow();
    QMenu* special = window->findChild<QMenu*>(QStringLiteral("M16"));
    QMetaObject::invokeMethod(special, "aboutToShow");
    auto enabled = [&](const char* name) {
        return window->findChild<QAction*>(QString::fromLatin1(name))->isEnabled();
    };
    QVERIFY(enabled("MyPictures1"));
    QVERIFY(!enabled("MyDocuments1"));
    QVERIFY(!enabled("RecentFiles1"));
    QVERIFY(!enabled("Desktop1"));
    window->findChild<QAction*>(QStringLiteral("MyPictures1"))->trigger();
    QCOMPARE(window->browsedFolder(), pictures);
    makeFolder(QStringLiteral("Desktop"));
    QMetaObject::invokeMethod(special, "aboutToShow");
    QVERIFY(enabled("Desktop1"));
}

void TestMainWindow::openingFoldersAndFilesFromOutside() {
    const QString folder = makeFolder(QStringLiteral("given"));
    for (const char* name : {"a.bmp", "b.bmp", "c.bmp", "d.bmp"}) {
        tz::test::writePicture(folder + QLatin1Char('/') + QString::fromLatin1(name), 8, 4);
    }
    const QString other = makeFolder(QStringLiteral("other"));
    tz::test::writePicture(other + QStringLiteral("/x.bmp"), 8, 4);

    // From the command line: files open their folder with them selected.
    auto window = std::make_unique<MainWindow>();
    window->setStartupPaths({(folder + QStringLiteral("/c.bmp")).toStdString(),
                             (folder + QStringLiteral("/a.bmp")).toStdString(),
                             (other + QStringLiteral("/x.bmp")).toStdString()});
    window->show();
    QCOMPARE(window->browsedFolder(), folder);
    QStringList selected;
    for (const QListWidgetItem* item : fileList(*window)->selectedItems()) {
        selected.append(item->text());
    }
    selected.sort();
    QCOMPARE(selected, QStringList({"a.bmp", "c.bmp"}));
    QCOMPARE(fileList(*window)->currentItem()->text(), QStringLiteral("a.bmp"));
    QTRY_COMPARE(window->previewWindow()->pictureView()->size(), QSize(2, 1));
    QCOMPARE(window->recentFolder(0), QStringLiteral("/"));  // opening records nothing

    // Dropped from a file manager: a folder is browsed.
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(other)});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window.get(), &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window.get(), &drop);
    QCOMPARE(window->browsedFolder(), other);
    QVERIFY(m_boxes.empty());

    // A folder that is not there: an error box, the browser stays.
    tz::app::runGuarded(
        [&] { window->openPaths({(folder + QStringLiteral("/gone/none.bmp")).toStdString()}); });
    QCOMPARE(m_boxes.size(), std::size_t{1});
    QVERIFY(m_boxes[0].text.contains(folder + QStringLiteral("/gone")));
    QCOMPARE(window->browsedFolder(), other);
}

// ---------------------------------------------------------------------------------------------
// Links and errors

void TestMainWindow::aboutMessageAndCancel() {
    auto window = startMainWindow();
    m_boxAnswer = QMessageBox::Cancel;
    window->findChild<QAction*>(QStringLiteral("About1"))->trigger();
    QCOMPARE(m_boxes.size(), std::size_t{1});
    const MessageBoxCall& box = m_boxes[0];
    QCOMPARE(box.icon, QMessageBox::Information);
    QCOMPARE(box.caption, QStringLiteral("Information"));
    QCOMPARE(box.buttons, QMessageBox::Ok | QMessageBox::Cancel);
    const QStringList lines = box.text.split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 6);
    QCOMPARE(lines[0], QStringLiteral("Tovan Zevediz 2016"));
    QVERIFY(lines[1].isEmpty());
    QCOMPARE(lines[2], QString::fromLatin1(tz::app::kMakerNotice));
    QVERIFY(lines[3].isEmpty());
    QCOMPARE(lines[4], QString::fromLatin1(tz::kWebSiteAddress));
    QCOMPARE(lines[5], QStringLiteral("Visit web site?"));
    QVERIFY(m_opened.isEmpty());
}

void TestMainWindow::aboutOkOpensWebSite() {
    auto window = startMainWindow();
    m_boxAnswer = QMessageBox::Ok;
    window->showAbout();
    QCOMPARE(m_opened, QStringList{QString::fromLatin1(tz::kWebSiteAddress)});
}

void TestMainWindow::statusBarAndHelpOpenWebSite() {
    auto window = startMainWindow();
    QVERIFY(QString::fromLatin1(tz::kWebSiteAddress).startsWith(QStringLiteral("https://")));
    QStatusBar* bar = window->findChild<QStatusBar*>(QStringLiteral("StatusBar1"));
    // A click on either panel.
    for (QLabel* panel : bar->findChildren<QLabel*>()) {
        const QPoint at = panel->mapTo(bar, panel->rect().center());
        QTest::mouseClick(bar, Qt::LeftButton, Qt::NoModifier, at);
    }
    window->findChild<QAction*>(QStringLiteral("MM92"))->trigger();
    QCOMPARE(m_opened, QStringList(3, QString::fromLatin1(tz::kWebSiteAddress)));
}

void TestMainWindow::errorBoxShowsHandlerErrors() {
    auto window = startMainWindow();
    QObject sender;
    QObject::connect(&sender, &QObject::objectNameChanged, window.get(),
                     tz::app::guarded([] { throw tz::Error("Source bitmap too small"); }));
    sender.setObjectName(QStringLiteral("go"));
    QCOMPARE(m_boxes.size(), std::size_t{1});
    QCOMPARE(m_boxes[0].icon, QMessageBox::Critical);
    QCOMPARE(m_boxes[0].caption, QStringLiteral("Tovan Zevediz"));
    QCOMPARE(m_boxes[0].text, QStringLiteral("Source bitmap too small"));
    QCOMPARE(m_boxes[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    // The program goes on.
    window->showAbout();
    QCOMPARE(m_boxes.size(), std::size_t{2});
}

QTEST_MAIN(TestMainWindow)
#include "test_main_window.moc"
