// The main window: menus, the file browser, the size presets, the batch run's wiring, the recent
// and special folders, and the handlers that open the preview window, the viewer and the web site.
#pragma once

#include <QMainWindow>
#include <QSize>
#include <QString>

#include <array>
#include <cstddef>
#include <exception>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tz/batch.h"
#include "tz/recent.h"
#include "web_links.h"

class QAction;
class QDragEnterEvent;
class QDropEvent;
class QGroupBox;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class QStatusBar;
class QTimer;

namespace tz::app {

class DriveSelector;
class FolderList;
class ImageViewer;
class PictureFileList;
class PreviewWindow;
class RadioGroup;

// The designed client area of the main window.
inline constexpr QSize kDesignClientSize{463, 482};

// objectName "Form1".
class MainWindow : public QMainWindow {
    Q_OBJECT

  public:
    using SizeSource = std::function<QSize()>;

    // Builds the window as designed, then creates the viewer and the preview window (in this
    // order); none of them is shown yet.
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // The one-time start-up work, done at the first activation (and retried at later
    // activations while it has not succeeded): start-up texts, the recent menu, the browser
    // moved to the most recent folder (else "/").
    void runStartupOnce();
    bool startupPending() const { return m_startupPending; }

    // Recent and special folders.
    void reloadRecentMenu();
    void recordFolderAsRecent();
    void openRecentFolder(int index);
    void openSpecialFolder(tz::SpecialFolder folder);
    // The recent entry's folder (its caption), index 0 = newest.
    QString recentFolder(int index) const;

    // File browser.
    // Moves the browser to `folder`; an empty path or the folder shown does nothing.
    // Throws tz::Error when the folder cannot be entered; the browser then stays where it was.
    void moveBrowserTo(const QString& folder);
    // The folder shown by the browser.
    QString browsedFolder() const;
    // The focused file's full path when it is selected, else empty.
    QString focusedFile() const;
    void refreshLists();
    void selectAllFiles();
    void previewFocusedFile();
    void onFileListKeyReleased(int key, Qt::KeyboardModifiers modifiers);

    // Batch run. The files are resized on worker threads while the window goes on taking
    // input; they settle in list order, and the window shows each as it settles.
    void choosePreset(int index);
    // Starts a run, or stops the one in progress (the button then reads "Stop").
    void startResizing();
    // Files in flight finish or are abandoned unwritten; outputs already written stay.
    void stopResizing();
    bool runInProgress() const { return m_run != nullptr; }

    // Options for the next runs, remembered in the settings store.
    void setKeepOriginalDates(bool keep);
    void setNeverEnlarge(bool never);

    // Opening from outside (command line, drops): a folder is browsed; files open their
    // folder (the first file's) with those of them that are in it selected. Throws tz::Error
    // when the folder cannot be entered.
    void openPaths(const std::vector<std::filesystem::path>& paths);
    // Paths to open at start-up instead of the most recent folder.
    void setStartupPaths(std::vector<std::filesystem::path> paths) {
        m_startupPaths = std::move(paths);
    }

    // Preview window, viewer and links.
    void togglePreviewWindow();
    void viewFocusedFile();
    void viewFile(const QString& path);
    void viewFile(const std::filesystem::path& file);
    void showPreviewAtStart();
    void showAbout();
    void openWebSite();

    PreviewWindow* previewWindow() const { return m_previewWindow.get(); }
    ImageViewer* viewer() const { return m_viewer.get(); }

    // Test seams: the per-file step of a run, the files resized at a time (below 1: one per
    // core), the display sizes and the web opener.
    void setFileResizer(tz::FileResizer resizer) { m_resizeFile = std::move(resizer); }
    void setRunJobs(int jobs) { m_runJobs = jobs; }
    void setScreenSizes(SizeSource screen, SizeSource desktop);
    void setUrlOpener(UrlOpener opener) { m_openUrl = std::move(opener); }

  protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    struct ActiveRun;

    void createMenus();
    QWidget* createClientArea();
    QWidget* createBanner(QWidget* parent);
    QWidget* createBrowserFrame(QWidget* parent);
    void createStatusBar();
    void connectHandlers();
    void layoutClientArea(QSize client);
    void onBrowserMoved(const QString& folder);
    void setRunControlsEnabled(bool enabled);
    void showProgress(int maximum);
    void onFileSettled(std::size_t index, const std::exception_ptr& error);
    void onRunFinished();
    bool confirmStopForQuit();
    void moveDamagedStoreAside();
    void loadPreferences();
    void savePreference(const char* name, const std::string& value);
    void updateSpecialFolders();

    bool m_startupPending = true;
    bool m_startupErrorShown = false;
    bool m_inStartup = false;
    bool m_quitAfterRun = false;
    int m_runJobs = 0;
    std::vector<std::filesystem::path> m_startupPaths;

    // Controls: children of this window, owned by Qt.
    QWidget* m_client = nullptr;
    QWidget* m_bannerStrip = nullptr;
    QGroupBox* m_frame = nullptr;
    DriveSelector* m_drives = nullptr;
    FolderList* m_folders = nullptr;
    PictureFileList* m_files = nullptr;
    QPushButton* m_selectAll = nullptr;
    QWidget* m_presetPanel = nullptr;
    RadioGroup* m_presets = nullptr;
    QPushButton* m_start = nullptr;
    QLineEdit* m_sizeField = nullptr;
    QProgressBar* m_progress = nullptr;
    QStatusBar* m_statusBar = nullptr;
    QTimer* m_previewTimer = nullptr;
    QMenu* m_popup = nullptr;
    QAction* m_refresh = nullptr;
    QAction* m_previewToggle = nullptr;
    QAction* m_viewImage = nullptr;
    QAction* m_keepDates = nullptr;
    QAction* m_neverEnlarge = nullptr;
    QMenu* m_recentMenu = nullptr;
    QMenu* m_specialMenu = nullptr;
    std::array<QAction*, 5> m_recent{};

    tz::FileResizer m_resizeFile;
    SizeSource m_screenSize;
    SizeSource m_desktopSize;
    UrlOpener m_openUrl;

    // The companion windows: top-level, created after the main window.
    std::unique_ptr<ImageViewer> m_viewer;
    std::unique_ptr<PreviewWindow> m_previewWindow;

    // The run in progress; its workers are stopped and joined first when the window goes.
    std::unique_ptr<ActiveRun> m_run;
};

}  // namespace tz::app
