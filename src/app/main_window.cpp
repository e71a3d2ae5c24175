// The main window: layout as designed, menus, start-up work and the event handlers.
#include "main_window.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFont>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>

#include <vector>

#include "application.h"
#include "file_browser.h"
#include "image_viewer.h"
#include "preview_window.h"
#include "radio_group.h"
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
    {"Small thumbnail (120 pixels)", "120"},
    {"Normal thumbnail (160 pixels)", "160"},
    {"Large thumbnail (250 pixels)", "250"},
    {"E-mail (480 pixels)", "480"},
    {"Web small (640 pixels)", "640"},
    {"Web large (860 pixels)", "860"},
    {"Web very large (1024 pixels)", "1024"},
    {"Large (1280 pixels)", "1280"},
    {"Very large (1600 pixels)", "1600"},
}};

// The list shows 1024 pixels while the size field holds 640: the field follows the list only
// from the first click on, and a run straight after start-up resizes to 640.
constexpr int kInitialPreset = 6;
constexpr char kInitialSizeText[] = "640";

constexpr int kBannerHeight = 80;
constexpr int kStatusBarHeight = 21;
// The outer window cannot be made smaller than 471 × 490; without the frame's 8 pixels and the
// title bar's and menu bar's 19 each that leaves this client area.
constexpr QSize kMinimumClientSize{463, 444};

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

MainWindow::~MainWindow() = default;

// ---------------------------------------------------------------------------------------------
// Layout

void MainWindow::createMenus() {
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("MainMenu2"));
    bar->setNativeMenuBar(false);

    QMenu* file = bar->addMenu(QStringLiteral("File"));
    file->setObjectName(QStringLiteral("File1"));
    m_previewToggle = addMenuAction(file, "MM12", QStringLiteral("Preview images"));
    m_previewToggle->setCheckable(true);
    m_viewImage = addMenuAction(file, "MM13", QStringLiteral("View image"));
    file->addSeparator();

    m_recentMenu = file->addMenu(QStringLiteral("Recent folders"));
    m_recentMenu->setObjectName(QStringLiteral("M15"));
    for (int index = 0; index < static_cast<int>(m_recent.size()); ++index) {
        const QByteArray name = "M15" + QByteArray::number(index + 1);
        m_recent[index] = addMenuAction(m_recentMenu, name.constData(), QStringLiteral("/"));
        m_recent[index]->setData(QString::fromLatin1(kDefaultFolder));
    }

    m_specialMenu = file->addMenu(QStringLiteral("Special folders"));
    m_specialMenu->setObjectName(QStringLiteral("M16"));
    addMenuAction(m_specialMenu, "MyPictures1", QStringLiteral("My Pictures"));
    addMenuAction(m_specialMenu, "MyDocuments1", QStringLiteral("My Documents"));
    addMenuAction(m_specialMenu, "RecentFiles1", QStringLiteral("Recent Files"));
    addMenuAction(m_specialMenu, "Desktop1", QStringLiteral("Desktop"));
    file->addSeparator();
    addMenuAction(file, "M19", QStringLiteral("Exit"));

    QMenu* help = bar->addMenu(QStringLiteral("Help"));
    help->setObjectName(QStringLiteral("Help1"));
    addMenuAction(help, "MM92", QStringLiteral("Tovan Zevediz web site"));
    help->addSeparator();
    addMenuAction(help, "About1", QStringLiteral("About..."));
}

QWidget* MainWindow::createClientArea() {
    m_client = new QWidget(this);
    m_client->setObjectName(QStringLiteral("ClientArea"));
    m_client->installEventFilter(this);

    m_bannerStrip = createBanner(m_client);
    m_frame = static_cast<QGroupBox*>(createBrowserFrame(m_client));

    m_sizeField = new QLineEdit(QString::fromLatin1(kInitialSizeText), m_client);
    m_sizeField->setObjectName(QStringLiteral("Edit5"));
    m_sizeField->hide();

    m_progress = new QProgressBar(m_client);
    m_progress->setObjectName(QStringLiteral("ProgressBar1"));
    m_progress->setTextVisible(false);
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
    m_refresh = addMenuAction(m_popup, "P1", QStringLiteral("Refresh"));

    m_selectAll = new QPushButton(QStringLiteral("Select all"), frame);
    m_selectAll->setObjectName(QStringLiteral("Button9"));

    m_presetPanel = new QWidget(frame);
    m_presetPanel->setObjectName(QStringLiteral("Panel2"));
    QStringList captions;
    for (const SizePreset& preset : kSizePresets) {
        captions.append(QString::fromLatin1(preset.caption));
    }
    m_presets = new RadioGroup(QStringLiteral("Select output quality"), captions, m_presetPanel);
    m_presets->setObjectName(QStringLiteral("RadioGroup1"));
    m_presets->setItemIndex(kInitialPreset);
    m_presets->setGeometry(3, 0, 234, 295);

    m_start = new QPushButton(QStringLiteral("Start resizing!"), m_presetPanel);
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

    auto* name = new QLabel(
        QStringLiteral("Tovan Zevediz 2006-") + QString::fromLatin1(kVersionText), m_statusBar);
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
    m_refresh->setText(QStringLiteral("Refresh list"));
    m_viewer->setWindowTitle(QStringLiteral("View image"));
    m_previewWindow->setWindowTitle(QStringLiteral("Preview images"));

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
    QMainWindow::closeEvent(event);
    if (event->isAccepted()) {
        // The companions go with the main window, so the program ends with it.
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
    moveBrowserTo(fromNativeName(specialFolderPath(folder)));
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
    try {
        m_previewWindow->loadPicture(focusedFile());
        m_previewWindow->fitImage(kPreviewDivisor);
    } catch (...) {
        // The preview keeps its previous picture.
    }
}

void MainWindow::onFileListKeyReleased(int key, Qt::KeyboardModifiers modifiers) {
    if (key == Qt::Key_Delete) {
        moveToTrash(focusedFile());
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
    }
}

void MainWindow::setRunControlsEnabled(bool enabled) {
    for (QWidget* control :
         std::initializer_list<QWidget*>{m_drives, m_folders, m_files, m_selectAll, m_start}) {
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

void MainWindow::stepProgress() {
    m_progress->setValue(m_progress->value() + 1);
    QCoreApplication::processEvents();
}

void MainWindow::startResizing() {
    if (m_runInProgress) {
        return;
    }
    // Between two files the window takes input; what would change the folder, the list or
    // the selection under the run stays disabled until the run ends or fails.
    m_runInProgress = true;
    setRunControlsEnabled(false);
    struct RunEnd {
        MainWindow* window;
        ~RunEnd() {
            window->m_runInProgress = false;
            window->setRunControlsEnabled(true);
        }
    } runEnd{this};

    RunDescription run;
    run.folder = toNativeName(browsedFolder());
    run.sizeText = m_sizeField->text().toStdString();
    std::vector<BatchItem> items;
    items.reserve(static_cast<std::size_t>(m_files->count()));
    for (int row = 0; row < m_files->count(); ++row) {
        const QListWidgetItem* item = m_files->item(row);
        items.push_back(BatchItem{toNativeName(item->text()), item->isSelected()});
    }

    BatchHooks hooks;
    hooks.resizeOne = m_resizeFile;
    hooks.recordFolder = [this] { recordFolderAsRecent(); };
    hooks.showProgress = [this](int maximum) { showProgress(maximum); };
    hooks.afterEachItem = [this] { stepProgress(); };
    hooks.finish = [this] {
        refreshLists();
        m_progress->hide();
    };
    runBatch(run, items, hooks);
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

void MainWindow::viewFile(const QString& path) {
    try {
        m_viewer->open(path, m_screenSize(), m_desktopSize());
    } catch (...) {
        // A file the viewer cannot show opens nothing.
    }
}

void MainWindow::showAbout() {
    const int chosen = showMessageBox(
        QMessageBox::Information, QStringLiteral("Information"),
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
