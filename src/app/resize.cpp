// The main window TForm1: layout as designed, menus, start-up work and the event handlers.
#include "resize.h"

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
#include "browser.h"
#include "preview.h"
#include "radiogroup.h"
#include "slika.h"
#include "tz/batch.h"
#include "tz/recent.h"

namespace tz::app {

QString VersionText;
int PreviewDivisor = 0;
QString WebSiteAddress;

}  // namespace tz::app

using tz::app::runGuarded;

// The banner and the icon live in the static library tz_app, whose resource initialiser the
// linker would otherwise drop.
static void initResources() {
    Q_INIT_RESOURCE(zevediz);
}

namespace {

// The size presets of RadioGroup1, with the size text each one writes into Edit5.
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

TForm1::TForm1(QWidget* parent)
    : QMainWindow(parent),
      m_runWorker(tz::runBetterWorker),
      m_screenSize(primaryScreenSize),
      m_desktopSize(desktopSize),
      m_openUrl(tz::app::openAddress) {
    initResources();
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QString::fromLatin1(tz::app::kApplicationTitle));
    QFont font;
    font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("DejaVu Sans"),
                      QStringLiteral("Sans Serif")});
    font.setPixelSize(11);
    setFont(font);
    setWindowIcon(QIcon(QStringLiteral(":/zevediz/zevediz.png")));

    createMenus();
    setCentralWidget(createClientArea());
    createStatusBar();

    m_timer2 = new QTimer(this);
    m_timer2->setObjectName(QStringLiteral("Timer2"));
    m_timer2->setInterval(100);

    connectHandlers();

    const int menuHeight = menuBar()->sizeHint().height();
    setMinimumSize(kMinimumClientSize.width(), kMinimumClientSize.height() + menuHeight);
    resize(tz::app::kDesignClientSize.width(), tz::app::kDesignClientSize.height() + menuHeight);
    move(80, 67);

    FormCreate();
    m_statusBar->setToolTip(tz::app::WebSiteAddress);

    m_slikca = std::make_unique<TSlikca>();
    m_preview = std::make_unique<TPreviewForm>();
    connect(m_preview.get(), &TPreviewForm::closed, this,
            [this] { m_previewToggle->setChecked(false); });

    m_timer2->start();
}

TForm1::~TForm1() = default;

void TForm1::FormCreate() {
    tz::app::VersionText = QStringLiteral("2016");
    tz::app::PreviewDivisor = 4;
    tz::app::WebSiteAddress = QStringLiteral("https://tovanzevediz.example/");
    FirstActivation = true;
}

// ---------------------------------------------------------------------------------------------
// Layout

void TForm1::createMenus() {
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
        m_recent[index]->setData(QString::fromLatin1(tz::kDefaultFolder));
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

QWidget* TForm1::createClientArea() {
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

    layoutClientArea(QSize(tz::app::kDesignClientSize.width(),
                           tz::app::kDesignClientSize.height() - kStatusBarHeight));
    return m_client;
}

QWidget* TForm1::createBanner(QWidget* parent) {
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

QWidget* TForm1::createBrowserFrame(QWidget* parent) {
    auto* frame = new QGroupBox(parent);
    frame->setObjectName(QStringLiteral("GroupBox1"));

    m_drives = new tz::app::DriveComboBox10(frame);
    m_folders = new tz::app::DirectoryListBox10(frame);
    m_files = new tz::app::FileListBox10(frame);
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
    m_presets =
        new tz::app::RadioGroup(QStringLiteral("Select output quality"), captions, m_presetPanel);
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

void TForm1::createStatusBar() {
    m_statusBar = new QStatusBar(this);
    m_statusBar->setObjectName(QStringLiteral("StatusBar1"));
    m_statusBar->setFixedHeight(kStatusBarHeight);
    m_statusBar->setSizeGripEnabled(true);
    m_statusBar->setCursor(Qt::PointingHandCursor);

    auto* name = new QLabel(QStringLiteral("Tovan Zevediz 2006-2016"), m_statusBar);
    name->setObjectName(QStringLiteral("StatusPanel0"));
    name->setFixedWidth(200);
    // The last panel takes the rest of the bar, so the whole address stays readable.
    auto* address = new QLabel(QStringLiteral("https://tovanzevediz.example/"), m_statusBar);
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
void TForm1::layoutClientArea(QSize client) {
    const int grow = client.width() - tz::app::kDesignClientSize.width();
    const int growDown = client.height() - (tz::app::kDesignClientSize.height() - kStatusBarHeight);

    m_bannerStrip->setGeometry(0, 0, client.width(), kBannerHeight);
    m_frame->setGeometry(3, kBannerHeight, 457 + grow, 351 + growDown);
    m_drives->setGeometry(8, 16, 197 + grow, 22);
    m_folders->setGeometry(8, 40, 197 + grow, 129);
    m_files->setGeometry(8, 168, 197 + grow, 148 + growDown);
    m_selectAll->setGeometry(8, 317 + growDown, 197 + grow, 25);
    m_presetPanel->setGeometry(211 + grow, 10, 241, 332);
    m_progress->setGeometry(3, 437 + growDown, 457 + grow, 20);
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_client && event->type() == QEvent::Resize) {
        layoutClientArea(m_client->size());
    } else if (watched == m_statusBar && event->type() == QEvent::MouseButtonRelease &&
               static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        runGuarded([this] { Image2Click(); });
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void TForm1::connectHandlers() {
    using tz::app::guarded;
    auto action = [this](const char* name) {
        return findChild<QAction*>(QString::fromLatin1(name));
    };
    connect(m_previewToggle, &QAction::triggered, this, guarded([this](bool) { M12Click(); }));
    connect(m_viewImage, &QAction::triggered, this, guarded([this](bool) { M13Click(); }));
    for (int index = 0; index < static_cast<int>(m_recent.size()); ++index) {
        connect(m_recent[index], &QAction::triggered, this,
                guarded([this, index](bool) { openRecent(index); }));
    }
    connect(action("MyPictures1"), &QAction::triggered, this,
            guarded([this](bool) { MyPictures1Click(); }));
    connect(action("MyDocuments1"), &QAction::triggered, this,
            guarded([this](bool) { MyDocuments1Click(); }));
    connect(action("RecentFiles1"), &QAction::triggered, this,
            guarded([this](bool) { RecentFiles1Click(); }));
    connect(action("Desktop1"), &QAction::triggered, this,
            guarded([this](bool) { Desktop1Click(); }));
    connect(action("M19"), &QAction::triggered, this, guarded([this](bool) { M19Click(); }));
    connect(action("MM92"), &QAction::triggered, this, guarded([this](bool) { MM92Click(); }));
    connect(action("About1"), &QAction::triggered, this, guarded([this](bool) { About1Click(); }));
    connect(m_refresh, &QAction::triggered, this, guarded([this](bool) { P1Click(); }));

    connect(m_folders, &tz::app::DirectoryListBox10::directoryChanged, this,
            guarded([this](const QString& folder) { onBrowserMoved(folder); }));
    connect(m_drives, &tz::app::DriveComboBox10::driveChosen, this,
            guarded([this](const QString& folder) {
                try {
                    moveBrowserTo(folder);
                } catch (...) {
                    // The selector goes back to the file system still shown, then the error
                    // is reported.
                    m_drives->showFolder(currentFolder());
                    throw;
                }
            }));
    connect(m_files, &tz::app::FileListBox10::userSelectionChanged, this,
            guarded([this] { FileListBox10Click(); }));
    connect(m_files, &QListWidget::itemDoubleClicked, this,
            guarded([this](QListWidgetItem*) { FileListBox10DblClick(); }));
    connect(m_files, &tz::app::FileListBox10::keyReleased, this,
            guarded([this](int key, Qt::KeyboardModifiers modifiers) {
                FileListBox10KeyUp(key, modifiers);
            }));
    connect(m_files, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { m_popup->popup(m_files->viewport()->mapToGlobal(at)); });
    connect(m_selectAll, &QPushButton::clicked, this, guarded([this](bool) { SelectAll(); }));
    connect(m_presets, &tz::app::RadioGroup::clicked, this,
            guarded([this](int index) { RadioGroup1Click(index); }));
    connect(m_start, &QPushButton::clicked, this, guarded([this](bool) { Button14Click(); }));
    connect(m_timer2, &QTimer::timeout, this, guarded([this] { Timer2Timer(); }));
}

// ---------------------------------------------------------------------------------------------
// Start-up and closing

bool TForm1::event(QEvent* event) {
    // The start-up work also runs on the first showing: without a window manager the window
    // may never be activated.
    if (event->type() == QEvent::WindowActivate || event->type() == QEvent::Show) {
        runGuarded([this] { FormActivate(); });
    }
    return QMainWindow::event(event);
}

void TForm1::FormActivate() {
    // An error box shown during the start-up work activates the window again from inside it.
    if (!FirstActivation || m_inStartup) {
        return;
    }
    m_inStartup = true;
    struct StartupEnd {
        bool& flag;
        ~StartupEnd() { flag = false; }
    } startupEnd{m_inStartup};
    m_refresh->setText(QStringLiteral("Refresh list"));
    m_slikca->setWindowTitle(QStringLiteral("View image"));
    m_preview->setWindowTitle(QStringLiteral("Preview images"));

    // A damaged recent list must not keep the program from starting: it is reported once and
    // the captions keep their values.
    try {
        NaloziRecent();
    } catch (...) {
        if (!m_startupErrorShown) {
            m_startupErrorShown = true;
            tz::app::reportCurrentException();
        }
    }

    try {
        moveBrowserTo(recentFolder(0));
    } catch (...) {
        try {
            moveBrowserTo(QString::fromLatin1(tz::kDefaultFolder));
        } catch (...) {
            // The start-up work is retried at the next activation; the box is shown only once,
            // because closing it activates the window again.
            if (!m_startupErrorShown) {
                m_startupErrorShown = true;
                tz::app::reportCurrentException();
            }
            return;
        }
    }
    FirstActivation = false;
}

void TForm1::Timer2Timer() {
    m_preview->show();
    m_previewToggle->setChecked(true);
    m_timer2->stop();
    show();
    raise();
    activateWindow();
}

void TForm1::M19Click() {
    close();
}

void TForm1::closeEvent(QCloseEvent* event) {
    QMainWindow::closeEvent(event);
    if (event->isAccepted()) {
        // The companions go with the main window, so the program ends with it.
        m_preview->hide();
        m_slikca->hide();
    }
}

// ---------------------------------------------------------------------------------------------
// Recent and special folders

void TForm1::NaloziRecent() {
    const std::array<std::string, 5> folders = tz::loadRecentFolders();
    for (std::size_t index = 0; index < folders.size(); ++index) {
        const QString folder = fromNativeName(folders[index]);
        m_recent[index]->setData(folder);
        m_recent[index]->setText(menuCaption(folder));
    }
}

QString TForm1::recentFolder(int index) const {
    if (index < 0 || index >= static_cast<int>(m_recent.size())) {
        return {};
    }
    return m_recent[static_cast<std::size_t>(index)]->data().toString();
}

void TForm1::AddFolderToRecent() {
    std::array<std::string, 5> captions;
    for (std::size_t index = 0; index < captions.size(); ++index) {
        captions[index] = toNativeName(recentFolder(static_cast<int>(index)));
    }
    if (tz::addFolderToRecent(toNativeName(currentFolder()), captions)) {
        NaloziRecent();
    }
}

void TForm1::openRecent(int index) {
    moveBrowserTo(recentFolder(index));
}

void TForm1::openSpecialFolder(int kind) {
    moveBrowserTo(fromNativeName(tz::specialFolderPath(static_cast<tz::SpecialFolder>(kind))));
}

void TForm1::MyPictures1Click() {
    openSpecialFolder(static_cast<int>(tz::SpecialFolder::Pictures));
}

void TForm1::MyDocuments1Click() {
    openSpecialFolder(static_cast<int>(tz::SpecialFolder::Documents));
}

void TForm1::RecentFiles1Click() {
    openSpecialFolder(static_cast<int>(tz::SpecialFolder::Recent));
}

void TForm1::Desktop1Click() {
    openSpecialFolder(static_cast<int>(tz::SpecialFolder::Desktop));
}

// ---------------------------------------------------------------------------------------------
// File browser

void TForm1::moveBrowserTo(const QString& folder) {
    if (folder.isEmpty()) {
        return;
    }
    if (QDir::cleanPath(QDir(folder).absolutePath()) == m_folders->directory()) {
        return;
    }
    m_folders->setDirectory(folder);
}

void TForm1::onBrowserMoved(const QString& folder) {
    m_files->setDirectory(folder);
    m_drives->showFolder(folder);
}

QString TForm1::currentFolder() const {
    return m_folders->directory();
}

QString TForm1::currentFile() const {
    return m_files->focusedFilePath();
}

void TForm1::Osvezi() {
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

void TForm1::SelectAll() {
    m_files->selectAll();
}

void TForm1::FileListBox10Click() {
    try {
        m_preview->loadPicture(currentFile());
        m_preview->fitImage(tz::app::PreviewDivisor);
    } catch (...) {
        // The preview keeps its previous picture.
    }
}

void TForm1::FileListBox10DblClick() {
    Preview(currentFile());
}

void TForm1::FileListBox10KeyUp(int key, Qt::KeyboardModifiers modifiers) {
    if (key == Qt::Key_Delete) {
        tz::app::SendToRecycleBin(currentFile());
        Osvezi();
    }
    const Qt::KeyboardModifiers held = modifiers & ~Qt::KeypadModifier;
    if (key == Qt::Key_A && held == Qt::ControlModifier) {
        SelectAll();
    }
}

// ---------------------------------------------------------------------------------------------
// Batch run

void TForm1::RadioGroup1Click(int index) {
    if (index >= 0 && index < static_cast<int>(kSizePresets.size())) {
        m_sizeField->setText(QString::fromLatin1(kSizePresets[index].sizeText));
    }
}

void TForm1::setRunControlsEnabled(bool enabled) {
    for (QWidget* control :
         std::initializer_list<QWidget*>{m_drives, m_folders, m_files, m_selectAll, m_start}) {
        control->setEnabled(enabled);
    }
    m_recentMenu->menuAction()->setEnabled(enabled);
    m_specialMenu->menuAction()->setEnabled(enabled);
    m_refresh->setEnabled(enabled);
}

void TForm1::showProgress(int maximum) {
    m_progress->setRange(0, maximum);
    m_progress->setValue(0);
    m_progress->show();
}

void TForm1::stepProgress() {
    m_progress->setValue(m_progress->value() + 1);
    QCoreApplication::processEvents();
}

void TForm1::Button14Click() {
    if (m_runInProgress) {
        return;
    }
    // Between two files the window takes input; what would change the folder, the list or
    // the selection under the run stays disabled until the run ends or fails.
    m_runInProgress = true;
    setRunControlsEnabled(false);
    struct RunEnd {
        TForm1* form;
        ~RunEnd() {
            form->m_runInProgress = false;
            form->setRunControlsEnabled(true);
        }
    } runEnd{this};

    const std::string sizeText = m_sizeField->text().toStdString();
    std::vector<tz::BatchItem> items;
    items.reserve(static_cast<std::size_t>(m_files->count()));
    for (int row = 0; row < m_files->count(); ++row) {
        const QListWidgetItem* item = m_files->item(row);
        items.push_back(tz::BatchItem{toNativeName(item->text()), item->isSelected()});
    }

    tz::BatchHooks hooks;
    hooks.runWorker = m_runWorker;
    hooks.recordFolder = [this] { AddFolderToRecent(); };
    hooks.showProgress = [this](int maximum) { showProgress(maximum); };
    hooks.afterEachItem = [this] { stepProgress(); };
    hooks.finish = [this] {
        Osvezi();
        m_progress->hide();
    };
    tz::runBatch(sizeText, items, hooks);
}

// ---------------------------------------------------------------------------------------------
// Preview window, viewer and links

void TForm1::M12Click() {
    // Qt has already flipped the check mark; the window's visibility is the state it stands for.
    bool shown = m_preview->isVisible();
    if (shown) {
        m_preview->close();
        shown = false;
    } else {
        m_preview->show();
        m_preview->fitImage(tz::app::PreviewDivisor);
        shown = true;
    }
    m_previewToggle->setChecked(shown);
}

void TForm1::setScreenSizes(SizeSource screen, SizeSource desktop) {
    m_screenSize = std::move(screen);
    m_desktopSize = std::move(desktop);
}

void TForm1::Preview(const QString& path) {
    try {
        m_slikca->Preview(path, m_screenSize(), m_desktopSize());
    } catch (...) {
        // A file the viewer cannot show opens nothing.
    }
}

void TForm1::About1Click() {
    const int chosen =
        tz::app::showMessageBox(QMessageBox::Information, QStringLiteral("Information"),
                                tz::app::aboutText(tz::app::VersionText, tz::app::WebSiteAddress),
                                QMessageBox::Ok | QMessageBox::Cancel);
    if (chosen == QMessageBox::Ok) {
        m_openUrl(tz::app::WebSiteAddress);
    }
}
