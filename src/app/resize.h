// The main window TForm1: menus, the file browser, the size presets, the batch run's wiring,
// the recent and special folders, and the handlers that open the preview, viewer and web site.
#pragma once

#include <QMainWindow>
#include <QSize>
#include <QString>

#include <array>
#include <functional>
#include <memory>
#include <string>

#include "links/links.h"
#include "tz/resize.h"

class QAction;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class QStatusBar;
class QTimer;
class TPreviewForm;
class TSlikca;

namespace tz::app {

class DirectoryListBox10;
class DriveComboBox10;
class FileListBox10;
class RadioGroup;

// Program-wide values, set by TForm1::FormCreate.
extern QString VersionText;
extern int PreviewDivisor;
extern QString WebSiteAddress;

// The designed client area of the main window.
inline constexpr QSize kDesignClientSize{463, 482};

}  // namespace tz::app

class TForm1 : public QMainWindow {
    Q_OBJECT

  public:
    // Calls one resize worker on a bare name in the current folder.
    using WorkerRunner = std::function<void(tz::ImageFormat, const std::string& name)>;
    using SizeSource = std::function<QSize()>;

    // Builds the window as designed, runs FormCreate, then creates the viewer and the preview
    // window (in this order); none of them is shown yet.
    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;

    // Creation: the program-wide values.
    void FormCreate();
    // The one-time start-up work, done at the first activation (and retried at later
    // activations while it has not succeeded).
    void FormActivate();
    bool firstActivation() const { return FirstActivation; }

    // Recent and special folders.
    void NaloziRecent();
    void AddFolderToRecent();
    void Mo151Click() { openRecent(0); }
    void Mo152Click() { openRecent(1); }
    void Mo153Click() { openRecent(2); }
    void Mo154Click() { openRecent(3); }
    void Mo155Click() { openRecent(4); }
    void MyPictures1Click();
    void MyDocuments1Click();
    void RecentFiles1Click();
    void Desktop1Click();
    // The recent entry's folder (its caption), index 0 = newest.
    QString recentFolder(int index) const;

    // File browser.
    // Moves the browser to `folder`; an empty path or the folder shown does nothing.
    // Throws tz::Error when the folder cannot be entered; the browser then stays where it was.
    void moveBrowserTo(const QString& folder);
    // The folder shown by the browser.
    QString currentFolder() const;
    // The focused file's full path when it is selected, else empty.
    QString currentFile() const;
    void Osvezi();
    void SelectAll();
    void P1Click() { Osvezi(); }
    void FileListBox10Click();
    void FileListBox10DblClick();
    void FileListBox10KeyUp(int key, Qt::KeyboardModifiers modifiers);

    // Batch run.
    void RadioGroup1Click(int index);
    void Button14Click();
    bool runInProgress() const { return m_runInProgress; }

    // Preview window, viewer and links.
    void M12Click();
    void M13Click() { Preview(currentFile()); }
    void M19Click();
    void Timer2Timer();
    void Preview(const QString& path);
    void About1Click();
    void MM92Click() { m_openUrl(tz::app::WebSiteAddress); }
    void Image2Click() { m_openUrl(tz::app::WebSiteAddress); }

    TPreviewForm* previewForm() const { return m_preview.get(); }
    TSlikca* slikca() const { return m_slikca.get(); }

    // Test seams: the workers, the display sizes and the web opener can be replaced.
    void setWorkerRunner(WorkerRunner runner) { m_runWorker = std::move(runner); }
    void setScreenSizes(SizeSource screen, SizeSource desktop);
    void setUrlOpener(tz::app::UrlOpener opener) { m_openUrl = std::move(opener); }

  protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void createMenus();
    QWidget* createClientArea();
    QWidget* createBanner(QWidget* parent);
    QWidget* createBrowserFrame(QWidget* parent);
    void createStatusBar();
    void connectHandlers();
    void layoutClientArea(QSize client);
    void openRecent(int index);
    void openSpecialFolder(int kind);
    void onBrowserMoved(const QString& folder);
    void setRunControlsEnabled(bool enabled);
    void showProgress(int maximum);
    void stepProgress();

    bool FirstActivation = true;
    bool m_startupErrorShown = false;
    bool m_inStartup = false;
    bool m_runInProgress = false;

    // Controls: children of this window, owned by Qt.
    QWidget* m_client = nullptr;
    QWidget* m_bannerStrip = nullptr;
    QGroupBox* m_frame = nullptr;
    tz::app::DriveComboBox10* m_drives = nullptr;
    tz::app::DirectoryListBox10* m_folders = nullptr;
    tz::app::FileListBox10* m_files = nullptr;
    QPushButton* m_selectAll = nullptr;
    QWidget* m_presetPanel = nullptr;
    tz::app::RadioGroup* m_presets = nullptr;
    QPushButton* m_start = nullptr;
    QLineEdit* m_sizeField = nullptr;
    QProgressBar* m_progress = nullptr;
    QStatusBar* m_statusBar = nullptr;
    QTimer* m_timer2 = nullptr;
    QMenu* m_popup = nullptr;
    QAction* m_refresh = nullptr;
    QAction* m_previewToggle = nullptr;
    QAction* m_viewImage = nullptr;
    QMenu* m_recentMenu = nullptr;
    QMenu* m_specialMenu = nullptr;
    std::array<QAction*, 5> m_recent{};

    WorkerRunner m_runWorker;
    SizeSource m_screenSize;
    SizeSource m_desktopSize;
    tz::app::UrlOpener m_openUrl;

    // The companion windows: top-level, created after the main window's FormCreate.
    std::unique_ptr<TSlikca> m_slikca;
    std::unique_ptr<TPreviewForm> m_preview;
};
