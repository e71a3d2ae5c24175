// The main window: layout as designed, menus, start-up work and the event handlers.
#include "main_window.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <climits>
#include <optional>
#include <vector>

#include "application.h"
#include "file_browser.h"
#include "image_viewer.h"
#include "preview_window.h"
#include "radio_group.h"
#include "tz/errors.h"
#include "tz/ordered_run.h"
#include "tz/settings.h"
#include "tz/version.h"

// The banner and the icon live in the static library tz_app, whose resource initialiser the
// linker would otherwise drop. Outside any namespace, as the macro requires.
static void initResources() {
    Q_INIT_RESOURCE(zevediz);
}

namespace tz::app {

namespace {

// The size presets, with the size text each one writes into the size field.
struct SizePreset {
    const char* caption;
    const char* sizeText;
};

constexpr std::array<SizePreset, 9> kSizePresets{{
    {QT_TRANSLATE_NOOP("tz::app::MainWindow", "Small thumbnail (120 pixels)"), "120"},
    {QT_TRANSLATE_NOOP("tz::app::MainWindow", "Normal thumbnail (160 pixels)"), "160"},
    {QT_TRANSLATE_NOOP("tz::app::MainWindow", "Large thumbnail (250 pixels)"), "250"},
    {QT_TRANSLATE_NOOP("tz::app::MainWindow", "E-mail (480 pixels)"), "480"},
    {QT_TRANSLATE_NOOP("tz::app::MainWindow", "Web small (640 pixels)"), "640"},
    {QT_TRANSLATE_NOOP("tz::app::MainWindow", "Web large (860 pixels)"), "860"},
    {QT_TRANSLATE_NOOP("tz::app::MainWindow", "Web very large (1024 pixels)"), "1024"},
    {QT_TRANSLATE_NOOP("tz::app::MainWindow", "Large (1280 pixels)"), "1280"},
    {QT_TRANSLATE_NOOP("tz::app::MainWindow", "Very large (1600 pixels)"), "1600"},
}};

// The entry checked when the store remembers none; the size field always holds the checked
// entry's size, so the list shows the size a run uses.
constexpr int kDefaultPreset = 4;

// The program's values in the settings store besides the recent folders: the size text of the
// preset last chosen, and the two run options, "1" for on.
constexpr char kPresetValue[] = "OutputSize";
constexpr char kKeepDatesValue[] = "KeepOriginalDates";
constexpr char kNeverEnlargeValue[] = "NeverEnlarge";

// How long the status bar shows the outcome of a run.
constexpr int kOutcomeMilliseconds = 10'000;

constexpr int kBannerHeight = 80;
constexpr int kStatusBarHeight = 21;
// The smallest client area (status bar included, menu bar excluded) that keeps every control
// whole: the frame must still hold the preset panel (10 + 332 pixels, and its 2-pixel border),
// which puts its lower edge 7 pixels above the designed one.
constexpr QSize kMinimumClientSize{463, 482 - 7};

std::string toNativeName(const QString& name) {
    return QFile::encodeName(name).toStdString();
}

QString fromNativeName(const std::string& name) {
    return QFile::decodeName(QByteArray::fromStdString(name));
}

// A menu caption shows "&" literally: access keys are not assigned automatically.
QString menuCaption(const QString& text) {
    QString caption = text;
    return caption.replace(QLatin1Char('&'), QStringLiteral("&&"));
}

int presetOfSizeText(const std::string& sizeText) {
    for (std::size_t index = 0; index < kSizePresets.size(); ++index) {
        if (sizeText == kSizePresets[index].sizeText) {
            return static_cast<int>(index);
        }
    }
    return -1;
}

QString displayName(const std::filesystem::path& file) {
    return fromNativeName(file.filename().native());
}

QAction* addMenuAction(QMenu* menu, const char* name, const QString& text) {
    QAction* action = menu->addAction(text);
    action->setObjectName(QString::fromLatin1(name));
    return action;
}

QSize primaryScreenSize() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen != nullptr ? screen->size() : QSize();
}

QSize desktopSize() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen != nullptr ? screen->virtualSize() : QSize();
}

}  // namespace

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent),
      m_screenSize(primaryScreenSize),
      m_desktopSize(desktopSize),
      m_openUrl(openAddress) {
    initResources();
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QString::fromLatin1(kApplicationTitle));
    QFont font;
    font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("DejaVu Sans"),
                      QStringLiteral("Sans Serif")});
    font.setPixelSize(11);
    setFont(font);
    setWindowIcon(QIcon(QStringLiteral(":/zevediz/zevediz.png")));

    createMenus();
    setCentralWidget(createClientArea());
    createStatusBar();

    m_previewTimer = new QTimer(this);
    m_previewTimer->setObjectName(QStringLiteral("Timer2"));
    m_previewTimer->setInterval(100);

    connectHandlers();
    // Folders and pictures dropped from a file manager open as they do from the command line.
    setAcceptDrops(true);

    const int menuHeight = menuBar()->sizeHint().height();
    setMinimumSize(kMinimumClientSize.width(), kMinimumClientSize.height() + menuHeight);
    resize(kDesignClientSize.width(), kDesignClientSize.height() + menuHeight);
    move(80, 67);

    m_statusBar->setToolTip(QString::fromLatin1(kWebSiteAddress));

    m_viewer = std::make_unique<ImageViewer>();
    m_previewWindow = std::make_unique<PreviewWindow>();
    connect(m_previewWindow.get(), &PreviewWindow::closed, this,
            [this] { m_previewToggle->setChecked(false); });

    m_previewTimer->start();
}

// A run's state, read by its workers: everything they use lives here, and the workers are
// declared last, so they are stopped and joined before the rest goes.
struct MainWindow::ActiveRun {
    RunDescription description;
    std::vector<BatchFile> files;
    FileResizer resizer;  // empty: resizeRunFile
    // Touched on the user-interface thread only.
    std::size_t settled = 0;
    std::size_t written = 0;
    std::exception_ptr failure;
    std::size_t failedIndex = 0;
    bool stopRequested = false;
    std::unique_ptr<OrderedRun> workers;
};

MainWindow::~MainWindow() {
    // No worker may call into the window once it is gone.
    m_run.reset();
}

// ---------------------------------------------------------------------------------------------
// Layout

void MainWindow::createMenus() {
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("MainMenu2"));
    bar->setNativeMenuBar(false);

    QMenu* file = bar->addMenu(tr("File"));
    file->setObjectName(QStringLiteral("File1"));
    m_previewToggle = addMenuAction(file, "MM12", tr("Preview images"));
    m_previewToggle->setCheckable(true);
    m_viewImage = addMenuAction(file, "MM13", tr("View image"));
    file->addSeparator();

    m_recentMenu = file->addMenu(tr("Recent folders"));
    m_recentMenu->setObjectName(QStringLiteral("M15"));
    for (int index = 0; index < static_cast<int>(m_recent.size()); ++index) {
        const QByteArray name = "M15" + QByteArray::number(index + 1);
        m_recent[index] = addMenuAction(m_recentMenu, name.constData(), QStringLiteral("/"));
        m_recent[index]->setData(QString::fromLatin1(kDefaultFolder));
    }

    m_specialMenu = file->addMenu(tr("Special folders"));
    m_specialMenu->setObjectName(QStringLiteral("M16"));
    addMenuAction(m_specialMenu, "MyPictures1", tr("My Pictures"));
    addMenuAction(m_specialMenu, "MyDocuments1", tr("My Documents"));
    addMenuAction(m_specialMenu, "RecentFiles1", tr("Recent Files"));
    addMenuAction(m_specialMenu, "Desktop1", tr("Desktop"));
    file->addSeparator();
    addMenuAction(file, "M19", tr("Exit"));

    QMenu* options = bar->addMenu(tr("Options"));
    options->setObjectName(QStringLiteral("OptionsMenu"));
    m_keepDates = addMenuAction(options, "KeepOriginalDates", tr("Keep original dates"));
    m_keepDates->setCheckable(true);
    m_neverEnlarge = addMenuAction(options, "NeverEnlarge", tr("Never enlarge pictures"));
    m_neverEnlarge->setCheckable(true);

    QMenu* help = bar->addMenu(tr("Help"));
    help->setObjectName(QStringLiteral("Help1"));
    addMenuAction(help, "MM92", tr("Tovan Zevediz web site"));
    help->addSeparator();
    addMenuAction(help, "About1", tr("About..."));

    // F10 opens the menu bar, as in other desktop programs.
    auto* openMenuBar = new QAction(this);
    openMenuBar->setObjectName(QStringLiteral("OpenMenuBar"));
    openMenuBar->setShortcut(Qt::Key_F10);
    openMenuBar->setShortcutContext(Qt::WindowShortcut);
    addAction(openMenuBar);
    connect(openMenuBar, &QAction::triggered, this,
            [this, file] { menuBar()->setActiveAction(file->menuAction()); });
}

QWidget* MainWindow::createClientArea() {
    m_client = new QWidget(this);
    m_client->setObjectName(QStringLiteral("ClientArea"));
    m_client->installEventFilter(this);

    m_bannerStrip = createBanner(m_client);
    m_frame = static_cast<QGroupBox*>(createBrowserFrame(m_client));

    m_sizeField =
        new QLineEdit(QString::fromLatin1(kSizePresets[kDefaultPreset].sizeText), m_client);
    m_sizeField->setObjectName(QStringLiteral("Edit5"));
    m_sizeField->hide();

    m_progress = new QProgressBar(m_client);
    m_progress->setObjectName(QStringLiteral("ProgressBar1"));
    m_progress->setTextVisible(true);
    m_progress->setAlignment(Qt::AlignCenter);
    //: The progress bar: files done (%v) of the files of the run (%m).
    m_progress->setFormat(tr("%v of %m"));
    m_progress->setRange(0, 0);
    m_progress->hide();

    layoutClientArea(
        QSize(kDesignClientSize.width(), kDesignClientSize.height() - kStatusBarHeight));
    return m_client;
}

QWidget* MainWindow::createBanner(QWidget* parent) {
    auto* strip = new QWidget(parent);
    strip->setObjectName(QStringLiteral("Panel1"));
    strip->setAutoFillBackground(true);
    QPalette palette = strip->palette();
    palette.setColor(QPalette::Window, Qt::black);
    strip->setPalette(palette);

    auto* banner = new QLabel(strip);
    banner->setObjectName(QStringLiteral("Image3"));
    const QPixmap artwork(QStringLiteral(":/zevediz/banner.png"));
    banner->setPixmap(artwork);
    banner->setGeometry(0, 0, artwork.width(), artwork.height());
    return strip;
}

QWidget* MainWindow::createBrowserFrame(QWidget* parent) {
    auto* frame = new QGroupBox(parent);
    frame->setObjectName(QStringLiteral("GroupBox1"));

    m_drives = new DriveSelector(frame);
    m_folders = new FolderList(frame);
    m_files = new PictureFileList(frame);
    m_files->setContextMenuPolicy(Qt::CustomContextMenu);
    m_files->setDirectory(m_folders->directory());
    m_drives->showFolder(m_folders->directory());

    m_popup = new QMenu(m_files);
    m_popup->setObjectName(QStringLiteral("PopupMenu1"));
    m_refresh = addMenuAction(m_popup, "P1", tr("Refresh"));

    m_selectAll = new QPushButton(tr("Select all"), frame);
    m_selectAll->setObjectName(QStringLiteral("Button9"));

    m_presetPanel = new QWidget(frame);
    m_presetPanel->setObjectName(QStringLiteral("Panel2"));
    QStringList captions;
    for (const SizePreset& preset : kSizePresets) {
        captions.append(tr(preset.caption));
    }
    m_presets = new RadioGroup(tr("Select output quality"), captions, m_presetPanel);
    m_presets->setObjectName(QStringLiteral("RadioGroup1"));
    m_presets->setItemIndex(kDefaultPreset);
    m_presets->setGeometry(3, 0, 234, 295);

    m_start = new QPushButton(tr("Start resizing!"), m_presetPanel);
    m_start->setObjectName(QStringLiteral("Button14"));
    QFont bold = m_start->font();
    bold.setBold(true);
    m_start->setFont(bold);
    m_start->setGeometry(12, 303, 216, 25);
    return frame;
}

void MainWindow::createStatusBar() {
    m_statusBar = new QStatusBar(this);
    m_statusBar->setObjectName(QStringLiteral("StatusBar1"));
    m_statusBar->setFixedHeight(kStatusBarHeight);
    m_statusBar->setSizeGripEnabled(true);
    m_statusBar->setCursor(Qt::PointingHandCursor);

    auto* name =
        new QLabel(tr("Tovan Zevediz 2006-%1").arg(QString::fromLatin1(kVersionText)), m_statusBar);
    name->setObjectName(QStringLiteral("StatusPanel0"));
    name->setFixedWidth(200);
    // The last panel takes the rest of the bar, so the whole address stays readable.
    auto* address = new QLabel(QString::fromLatin1(kWebSiteAddress), m_statusBar);
    address->setObjectName(QStringLiteral("StatusPanel1"));
    address->setMinimumWidth(50);
    for (QLabel* panel : {name, address}) {
        panel->setAttribute(Qt::WA_TransparentForMouseEvents);
        panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        panel->setIndent(2);
    }
    m_statusBar->addWidget(name);
    m_statusBar->addWidget(address, 1);
    m_statusBar->installEventFilter(this);
    setStatusBar(m_statusBar);
}

// Places the controls for a client area (menu and status bar excluded) of `client`: the strip
// and the frame span the width, the file list alone grows in height, the preset panel keeps
// its distance from the right edge and the progress bar stays above the status bar.
void MainWindow::layoutClientArea(QSize client) {
    const int grow = client.width() - kDesignClientSize.width();
    const int growDown = client.height() - (kDesignClientSize.height() - kStatusBarHeight);

    m_bannerStrip->setGeometry(0, 0, client.width(), kBannerHeight);
    m_frame->setGeometry(3, kBannerHeight, 457 + grow, 351 + growDown);
    m_drives->setGeometry(8, 16, 197 + grow, 22);
    m_folders->setGeometry(8, 40, 197 + grow, 129);
    m_files->setGeometry(8, 168, 197 + grow, 148 + growDown);
    m_selectAll->setGeometry(8, 317 + growDown, 197 + grow, 25);
    m_presetPanel->setGeometry(211 + grow, 10, 241, 332);
    m_progress->setGeometry(3, 437 + growDown, 457 + grow, 20);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_client && event->type() == QEvent::Resize) {
        layoutClientArea(m_client->size());
    } else if (watched == m_statusBar && event->type() == QEvent::MouseButtonRelease &&
               static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        runGuarded([this] { openWebSite(); });
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::connectHandlers() {
    auto action = [this](const char* name) {
        return findChild<QAction*>(QString::fromLatin1(name));
    };
    connect(m_previewToggle, &QAction::triggered, this,
            guarded([this](bool) { togglePreviewWindow(); }));
    connect(m_viewImage, &QAction::triggered, this, guarded([this](bool) { viewFocusedFile(); }));
    for (int index = 0; index < static_cast<int>(m_recent.size()); ++index) {
        connect(m_recent[index], &QAction::triggered, this,
                guarded([this, index](bool) { openRecentFolder(index); }));
    }
    const std::array<std::pair<const char*, SpecialFolder>, 4> specialFolders{{
        {"MyPictures1", SpecialFolder::Pictures},
        {"MyDocuments1", SpecialFolder::Documents},
        {"RecentFiles1", SpecialFolder::Recent},
        {"Desktop1", SpecialFolder::Desktop},
    }};
    for (const auto& [name, folder] : specialFolders) {
        connect(action(name), &QAction::triggered, this,
                guarded([this, folder = folder](bool) { openSpecialFolder(folder); }));
    }
    connect(action("M19"), &QAction::triggered, this, guarded([this](bool) { close(); }));
    connect(action("MM92"), &QAction::triggered, this, guarded([this](bool) { openWebSite(); }));
    connect(action("About1"), &QAction::triggered, this, guarded([this](bool) { showAbout(); }));
    connect(m_refresh, &QAction::triggered, this, guarded([this](bool) { refreshLists(); }));
    connect(m_keepDates, &QAction::toggled, this,
            guarded([this](bool keep) { setKeepOriginalDates(keep); }));
    connect(m_neverEnlarge, &QAction::toggled, this,
            guarded([this](bool never) { setNeverEnlarge(never); }));
    connect(m_specialMenu, &QMenu::aboutToShow, this, guarded([this] { updateSpecialFolders(); }));

    connect(m_folders, &FolderList::directoryChanged, this,
            guarded([this](const QString& folder) { onBrowserMoved(folder); }));
    connect(m_drives, &DriveSelector::driveChosen, this, guarded([this](const QString& folder) {
                try {
                    moveBrowserTo(folder);
                } catch (...) {
                    // The selector goes back to the file system still shown, then the error
                    // is reported.
                    m_drives->showFolder(browsedFolder());
                    throw;
                }
            }));
    connect(m_files, &PictureFileList::userSelectionChanged, this,
            guarded([this] { previewFocusedFile(); }));
    connect(m_files, &QListWidget::itemDoubleClicked, this,
            guarded([this](QListWidgetItem*) { viewFocusedFile(); }));
    connect(m_files, &PictureFileList::keyReleased, this,
            guarded([this](int key, Qt::KeyboardModifiers modifiers) {
                onFileListKeyReleased(key, modifiers);
            }));
    connect(m_files, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { m_popup->popup(m_files->viewport()->mapToGlobal(at)); });
    connect(m_selectAll, &QPushButton::clicked, this, guarded([this](bool) { selectAllFiles(); }));
    connect(m_presets, &RadioGroup::clicked, this,
            guarded([this](int index) { choosePreset(index); }));
    connect(m_start, &QPushButton::clicked, this, guarded([this](bool) { startResizing(); }));
    connect(m_previewTimer, &QTimer::timeout, this, guarded([this] { showPreviewAtStart(); }));
}

// ---------------------------------------------------------------------------------------------
// Start-up and closing

bool MainWindow::event(QEvent* event) {
    // The start-up work also runs on the first showing: without a window manager the window
    // may never be activated.
    if (event->type() == QEvent::WindowActivate || event->type() == QEvent::Show) {
        runGuarded([this] { runStartupOnce(); });
    }
    return QMainWindow::event(event);
}

void MainWindow::runStartupOnce() {
    // An error box shown during the start-up work activates the window again from inside it.
    if (!m_startupPending || m_inStartup) {
        return;
    }
    m_inStartup = true;
    struct StartupEnd {
        bool& flag;
        ~StartupEnd() { flag = false; }
    } startupEnd{m_inStartup};
    m_refresh->setText(tr("Refresh list"));
    m_viewer->setWindowTitle(tr("View image"));
    m_previewWindow->setWindowTitle(tr("Preview images"));

    // A store file that cannot be parsed is kept aside and replaced by a fresh one, so it
    // cannot block every run.
    moveDamagedStoreAside();
    // A damaged recent list must not keep the program from starting: it is reported once and
    // the captions keep their values.
    try {
        reloadRecentMenu();
    } catch (...) {
        if (!m_startupErrorShown) {
            m_startupErrorShown = true;
            reportCurrentException();
        }
    }
    loadPreferences();

    if (!m_startupPaths.empty()) {
        // Asked for by the command line: a failure is reported and the start-up goes on as
        // without it.
        const std::vector<std::filesystem::path> paths = std::move(m_startupPaths);
        m_startupPaths.clear();
        try {
            openPaths(paths);
            m_startupPending = false;
            return;
        } catch (...) {
            reportCurrentException();
        }
    }

    try {
        moveBrowserTo(recentFolder(0));
    } catch (...) {
        try {
            moveBrowserTo(QString::fromLatin1(kDefaultFolder));
        } catch (...) {
            // The start-up work is retried at the next activation; the box is shown only once,
            // because closing it activates the window again.
            if (!m_startupErrorShown) {
                m_startupErrorShown = true;
                reportCurrentException();
            }
            return;
        }
    }
    m_startupPending = false;
}

void MainWindow::showPreviewAtStart() {
    m_previewWindow->show();
    m_previewToggle->setChecked(true);
    m_previewTimer->stop();
    show();
    raise();
    activateWindow();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (m_run) {
        // The window closes once the run has stopped, so no work goes on without a window.
        event->ignore();
        if (!m_quitAfterRun && confirmStopForQuit()) {
            m_quitAfterRun = true;
            stopResizing();
        }
        return;
    }
    QMainWindow::closeEvent(event);
    if (event->isAccepted()) {
        // The companions go with the main window, so the program ends with it; a window closed
        // before the preview's first showing is not shown again by it.
        m_previewTimer->stop();
        m_previewWindow->hide();
        m_viewer->hide();
    }
}

// ---------------------------------------------------------------------------------------------
// Recent and special folders

void MainWindow::reloadRecentMenu() {
    const std::array<std::string, 5> folders = loadRecentFolders();
    for (std::size_t index = 0; index < folders.size(); ++index) {
        const QString folder = fromNativeName(folders[index]);
        m_recent[index]->setData(folder);
        m_recent[index]->setText(menuCaption(folder));
    }
}

QString MainWindow::recentFolder(int index) const {
    if (index < 0 || index >= static_cast<int>(m_recent.size())) {
        return {};
    }
    return m_recent[static_cast<std::size_t>(index)]->data().toString();
}

void MainWindow::recordFolderAsRecent() {
    std::array<std::string, 5> captions;
    for (std::size_t index = 0; index < captions.size(); ++index) {
        captions[index] = toNativeName(recentFolder(static_cast<int>(index)));
    }
    if (addFolderToRecent(toNativeName(browsedFolder()), captions)) {
        reloadRecentMenu();
    }
}

void MainWindow::openRecentFolder(int index) {
    moveBrowserTo(recentFolder(index));
}

void MainWindow::openSpecialFolder(SpecialFolder folder) {
    // A folder that does not exist has its entry disabled; a late call does nothing.
    const std::string path = specialFolderPath(folder);
    std::error_code ignored;
    if (std::filesystem::is_directory(path, ignored)) {
        moveBrowserTo(fromNativeName(path));
    }
}

void MainWindow::updateSpecialFolders() {
    const std::array<std::pair<const char*, SpecialFolder>, 4> entries{{
        {"MyPictures1", SpecialFolder::Pictures},
        {"MyDocuments1", SpecialFolder::Documents},
        {"RecentFiles1", SpecialFolder::Recent},
        {"Desktop1", SpecialFolder::Desktop},
    }};
    for (const auto& [name, folder] : entries) {
        const std::string path = specialFolderPath(folder);
        std::error_code ignored;
        findChild<QAction*>(QString::fromLatin1(name))
            ->setEnabled(!path.empty() && std::filesystem::is_directory(path, ignored));
    }
}

// ---------------------------------------------------------------------------------------------
// File browser

void MainWindow::moveBrowserTo(const QString& folder) {
    if (folder.isEmpty()) {
        return;
    }
    if (QDir::cleanPath(QDir(folder).absolutePath()) == m_folders->directory()) {
        return;
    }
    m_folders->setDirectory(folder);
}

void MainWindow::onBrowserMoved(const QString& folder) {
    m_files->setDirectory(folder);
    m_drives->showFolder(folder);
}

QString MainWindow::browsedFolder() const {
    return m_folders->directory();
}

QString MainWindow::focusedFile() const {
    return m_files->focusedFilePath();
}

void MainWindow::refreshLists() {
    try {
        const int focused = m_files->currentRow();
        m_files->refresh();
        m_folders->refresh();
        if (focused >= 0 && focused < m_files->count()) {
            m_files->setCurrentRow(focused, QItemSelectionModel::ClearAndSelect);
        }
    } catch (...) {
        // A folder that vanished leaves the lists as far as they were read.
    }
}

void MainWindow::selectAllFiles() {
    m_files->selectAll();
}

void MainWindow::previewFocusedFile() {
    // Only the latest of a burst of changes is decoded; a file that cannot be shown leaves the
    // previous picture.
    m_previewWindow->showFile(m_files->focusedFileOnDisk());
}

void MainWindow::onFileListKeyReleased(int key, Qt::KeyboardModifiers modifiers) {
    if (key == Qt::Key_Delete) {
        moveToTrash(m_files->focusedFileOnDisk());
        refreshLists();
    }
    const Qt::KeyboardModifiers held = modifiers & ~Qt::KeypadModifier;
    if (key == Qt::Key_A && held == Qt::ControlModifier) {
        selectAllFiles();
    }
}

// ---------------------------------------------------------------------------------------------
// Batch run

void MainWindow::choosePreset(int index) {
    if (index >= 0 && index < static_cast<int>(kSizePresets.size())) {
        m_sizeField->setText(QString::fromLatin1(kSizePresets[index].sizeText));
        savePreference(kPresetValue, kSizePresets[index].sizeText);
    }
}

void MainWindow::setKeepOriginalDates(bool keep) {
    m_keepDates->setChecked(keep);
    savePreference(kKeepDatesValue, keep ? "1" : "0");
}

void MainWindow::setNeverEnlarge(bool never) {
    m_neverEnlarge->setChecked(never);
    savePreference(kNeverEnlargeValue, never ? "1" : "0");
}

// Remembering a choice is a convenience: a store that cannot take it leaves the choice in
// force for this session, and the next run's recording reports the store's trouble.
void MainWindow::savePreference(const char* name, const std::string& value) {
    if (m_inStartup) {
        return;  // the values being loaded
    }
    try {
        writeSetting(kProgramKey, name, value);
    } catch (const std::exception&) {
    }
}

// Values absent (older store files) or unreadable read as the defaults: 640 pixels, both
// options off.
void MainWindow::loadPreferences() {
    auto read = [](const char* name) {
        try {
            return readSetting(kProgramKey, name, "");
        } catch (const std::exception&) {
            return std::string();
        }
    };
    const int preset = presetOfSizeText(read(kPresetValue));
    const int chosen = preset >= 0 ? preset : kDefaultPreset;
    m_presets->setItemIndex(chosen);
    m_sizeField->setText(QString::fromLatin1(kSizePresets[chosen].sizeText));
    m_keepDates->setChecked(read(kKeepDatesValue) == "1");
    m_neverEnlarge->setChecked(read(kNeverEnlargeValue) == "1");
}

void MainWindow::moveDamagedStoreAside() {
    try {
        if (const std::optional<std::filesystem::path> kept = setAsideDamagedStore()) {
            showMessageBox(QMessageBox::Warning, QString::fromLatin1(kApplicationTitle),
                           tr("The settings file was damaged. It was kept as\n%1\nand a new "
                              "one was started.")
                               .arg(fromNativeName(kept->native())));
        }
    } catch (const std::exception&) {
        // Left in place: the store's own messages report it as before.
    }
}

void MainWindow::setRunControlsEnabled(bool enabled) {
    for (QWidget* control :
         std::initializer_list<QWidget*>{m_drives, m_folders, m_files, m_selectAll}) {
        control->setEnabled(enabled);
    }
    m_recentMenu->menuAction()->setEnabled(enabled);
    m_specialMenu->menuAction()->setEnabled(enabled);
    m_refresh->setEnabled(enabled);
}

void MainWindow::showProgress(int maximum) {
    m_progress->setRange(0, maximum);
    m_progress->setValue(0);
    m_progress->show();
}

void MainWindow::startResizing() {
    if (m_run) {
        stopResizing();
        return;
    }
    auto run = std::make_unique<ActiveRun>();
    run->description.folder = toNativeName(browsedFolder());
    run->description.sizeText = m_sizeField->text().toStdString();
    run->description.keepDate = m_keepDates->isChecked();
    run->description.shrinkOnly = m_neverEnlarge->isChecked();
    run->resizer = m_resizeFile;
    std::vector<BatchItem> items;
    items.reserve(static_cast<std::size_t>(m_files->count()));
    for (int row = 0; row < m_files->count(); ++row) {
        const QListWidgetItem* item = m_files->item(row);
        items.push_back(BatchItem{PictureFileList::nativeName(item), item->isSelected()});
    }
    run->files = selectedFiles(run->description, items);
    run->description.sources = sourceIdentities(run->files);

    // What would change the folder, the list or the selection under the run stays disabled
    // until it ends.
    setRunControlsEnabled(false);
    try {
        createOutputFolder(run->description);
        moveDamagedStoreAside();
        recordFolderAsRecent();
    } catch (...) {
        setRunControlsEnabled(true);
        throw;
    }
    showProgress(static_cast<int>(std::min<std::size_t>(run->files.size(), INT_MAX)));
    m_statusBar->clearMessage();
    m_start->setText(tr("Stop"));

    ActiveRun* state = run.get();
    // Runs on the workers: the files and the description are fixed for the run's lifetime.
    auto step = [state](std::size_t index, const BeforeWrite& beforeWrite) {
        const BatchFile& file = state->files[index];
        if (file.output.empty()) {
            return;
        }
        if (state->resizer) {
            state->resizer(file.source, file.output, state->description);
        } else {
            resizeRunFile(file.source, file.output, state->description, beforeWrite);
        }
    };
    // The workers' reports reach the window as queued calls; those still queued when the
    // window goes are dropped with it.
    auto settled = [this](std::size_t index, std::exception_ptr error) {
        const bool failed = error != nullptr;
        QMetaObject::invokeMethod(
            this, [this, index, error = std::move(error)] { onFileSettled(index, error); },
            Qt::QueuedConnection);
        return failed;
    };
    auto finished = [this] {
        QMetaObject::invokeMethod(
            this, [this] { onRunFinished(); }, Qt::QueuedConnection);
    };
    run->workers = std::make_unique<OrderedRun>(run->files.size(), m_runJobs, std::move(step),
                                                std::move(settled), std::move(finished));
    // Files running side by side already keep the cores busy; each one keeps to its thread.
    run->description.threadsPerFile = run->workers->jobs() > 1 ? 1 : 0;
    m_run = std::move(run);
    m_run->workers->start();
}

void MainWindow::stopResizing() {
    if (!m_run || m_run->stopRequested) {
        return;
    }
    m_run->stopRequested = true;
    m_run->workers->requestStop();
    m_start->setEnabled(false);
    m_statusBar->showMessage(tr("Stopping..."));
}

void MainWindow::onFileSettled(std::size_t index, const std::exception_ptr& error) {
    if (!m_run) {
        return;
    }
    if (error) {
        // The bar stays where the run got to: the failed file is not done.
        m_run->failure = error;
        m_run->failedIndex = index;
        return;
    }
    m_run->settled = index + 1;
    if (!m_run->files[index].output.empty()) {
        ++m_run->written;
    }
    m_progress->setValue(static_cast<int>(std::min<std::size_t>(m_run->settled, INT_MAX)));
}

void MainWindow::onRunFinished() {
    if (!m_run) {
        return;
    }
    std::unique_ptr<ActiveRun> run = std::move(m_run);
    run->workers.reset();
    setRunControlsEnabled(true);
    m_start->setText(tr("Start resizing!"));
    m_start->setEnabled(true);
    m_statusBar->clearMessage();
    if (m_quitAfterRun) {
        m_progress->hide();
        close();
        return;
    }
    if (run->failure) {
        // The list stays as it was, selection included, so the run can be repeated.
        showErrorBox(displayName(run->files[run->failedIndex].source) + QLatin1Char('\n') +
                     errorMessage(run->failure));
        m_progress->hide();
    } else if (run->stopRequested) {
        m_progress->hide();
        m_statusBar->showMessage(
            tr("Stopped after %1 of %2").arg(run->settled).arg(run->files.size()),
            kOutcomeMilliseconds);
    } else {
        refreshLists();
        m_progress->hide();
        const QString folder = fromNativeName((run->description.folder / kOutputFolder).native());
        m_statusBar->showMessage(
            tr("Done: %n written to %1", nullptr, static_cast<int>(run->written)).arg(folder),
            kOutcomeMilliseconds);
    }
}

bool MainWindow::confirmStopForQuit() {
    return showMessageBox(QMessageBox::Question, QString::fromLatin1(kApplicationTitle),
                          tr("Pictures are being resized. Stop and quit?"),
                          QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

// ---------------------------------------------------------------------------------------------
// Opening from outside

void MainWindow::openPaths(const std::vector<std::filesystem::path>& paths) {
    if (paths.empty()) {
        return;
    }
    std::error_code ignored;
    const std::filesystem::path first = std::filesystem::absolute(paths.front(), ignored);
    if (std::filesystem::is_directory(first, ignored)) {
        moveBrowserTo(fromNativeName(first.lexically_normal().native()));
        return;
    }
    const std::filesystem::path folder = first.parent_path();
    moveBrowserTo(fromNativeName(folder.lexically_normal().native()));
    std::vector<std::string> names;
    for (const std::filesystem::path& path : paths) {
        const std::filesystem::path absolute = std::filesystem::absolute(path, ignored);
        if (absolute.parent_path() == folder) {
            names.push_back(absolute.filename().native());
        }
    }
    m_files->selectNames(names);
    previewFocusedFile();
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (!m_run && event->mimeData()->hasUrls() && !event->mimeData()->urls().isEmpty() &&
        event->mimeData()->urls().front().isLocalFile()) {
        event->acceptProposedAction();
    }
}

void MainWindow::dropEvent(QDropEvent* event) {
    if (m_run) {
        return;
    }
    std::vector<std::filesystem::path> paths;
    for (const QUrl& url : event->mimeData()->urls()) {
        if (url.isLocalFile()) {
            // The path's bytes as the file manager gave them, names that are not UTF-8
            // included.
            paths.push_back(std::filesystem::path(
                QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1())
                    .toStdString()));
        }
    }
    event->acceptProposedAction();
    runGuarded([&] { openPaths(paths); });
}

// ---------------------------------------------------------------------------------------------
// Preview window, viewer and links

void MainWindow::togglePreviewWindow() {
    // Qt has already flipped the check mark; the window's visibility is the state it stands for.
    bool shown = m_previewWindow->isVisible();
    if (shown) {
        m_previewWindow->close();
        shown = false;
    } else {
        m_previewWindow->show();
        m_previewWindow->fitImage(kPreviewDivisor);
        shown = true;
    }
    m_previewToggle->setChecked(shown);
}

void MainWindow::setScreenSizes(SizeSource screen, SizeSource desktop) {
    m_screenSize = std::move(screen);
    m_desktopSize = std::move(desktop);
}

void MainWindow::viewFocusedFile() {
    viewFile(m_files->focusedFileOnDisk());
}

void MainWindow::viewFile(const QString& path) {
    viewFile(std::filesystem::path(toNativeName(path)));
}

void MainWindow::viewFile(const std::filesystem::path& file) {
    if (file.empty()) {
        return;
    }
    try {
        m_viewer->open(file, m_screenSize(), m_desktopSize());
    } catch (...) {
        // A file the viewer cannot show opens nothing.
    }
}

void MainWindow::showAbout() {
    const int chosen = showMessageBox(
        QMessageBox::Information, tr("Information"),
        aboutText(QString::fromLatin1(kVersionText), QString::fromLatin1(kWebSiteAddress)),
        QMessageBox::Ok | QMessageBox::Cancel);
    if (chosen == QMessageBox::Ok) {
        openWebSite();
    }
}

void MainWindow::openWebSite() {
    m_openUrl(QString::fromLatin1(kWebSiteAddress));
}

}  // namespace tz::app
