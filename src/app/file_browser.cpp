// The file browser's controls over the mounted file systems and QDir.
#include "file_browser.h"

#include <QByteArrayList>
#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QPainter>
#include <QStorageInfo>
#include <QStyle>
#include <QStyledItemDelegate>

#include <algorithm>

#include "application.h"
#include "tz/errors.h"
#include "tz/picture_format.h"

namespace tz::app {

namespace {

constexpr int kPathRole = Qt::UserRole;
constexpr int kLevelRole = Qt::UserRole + 1;
constexpr int kIndentStep = 10;

// A volume the user would call a drive: a block device or a network share. Memory file
// systems, snap images and helper mounts stay out; loop-mounted images count when they are
// not squashfs.
bool isDriveVolume(const QStorageInfo& volume) {
    if (!volume.isValid() || !volume.isReady() || !QFileInfo(volume.rootPath()).isDir()) {
        return false;
    }
    const QByteArray type = volume.fileSystemType();
    if (type == "squashfs") {
        return false;
    }
    static const QByteArrayList networkTypes{"nfs", "nfs4", "cifs", "smb3", "fuse.sshfs"};
    return volume.device().startsWith("/dev/") || networkTypes.contains(type);
}

QString cleanFolder(const QString& folder) {
    return QDir::cleanPath(QDir(folder).absolutePath());
}

// Folder entries are indented by their depth below the root, like a tree drawn flat.
class IndentDelegate : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyleOptionViewItem indented(option);
        indented.rect.setLeft(option.rect.left() + indent(index));
        QStyledItemDelegate::paint(painter, indented, index);
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        const QSize size = QStyledItemDelegate::sizeHint(option, index);
        return {size.width() + indent(index), size.height()};
    }

  private:
    static int indent(const QModelIndex& index) {
        return std::clamp(index.data(kLevelRole).toInt(), 0, 64) * kIndentStep;
    }
};

}  // namespace

QString joinPath(const QString& folder, const QString& name) {
    if (folder.endsWith(QLatin1Char('/'))) {
        return folder + name;
    }
    return folder + QLatin1Char('/') + name;
}

void moveToTrash(const QString& path) {
    const QFileInfo file(path);
    if (path.isEmpty() || !file.isFile()) {
        return;
    }
    const int answer = showMessageBox(
        QMessageBox::Question, QStringLiteral("Confirm File Delete"),
        QStringLiteral("Are you sure you want to move \"%1\" to the trash?").arg(file.fileName()),
        QMessageBox::Yes | QMessageBox::No);
    if (answer != QMessageBox::Yes) {
        return;
    }
    // Follows the freedesktop trash: the home trash under $XDG_DATA_HOME, or the trash at the top
    // of the file's own file system.
    if (!QFile::moveToTrash(file.absoluteFilePath())) {
        showErrorBox(
            QStringLiteral("\"%1\" could not be moved to the trash.").arg(file.absoluteFilePath()));
    }
}

// ---------------------------------------------------------------------------------------------

DriveSelector::DriveSelector(QWidget* parent) : QComboBox(parent) {
    setObjectName(QStringLiteral("DriveComboBox10"));
    readDrives();
    connect(this, &QComboBox::activated, this, &DriveSelector::onActivated);
}

void DriveSelector::readDrives() {
    const QString chosen = drive();
    const QIcon icon = style()->standardIcon(QStyle::SP_DriveHDIcon);
    QStringList roots;
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
        if (isDriveVolume(volume)) {
            roots.append(volume.rootPath());
        }
    }
    // The root always exists, even where its file system is not a device of its own; the file
    // system browsed at the moment stays listed whatever its kind.
    roots.append(QStringLiteral("/"));
    if (!chosen.isEmpty()) {
        roots.append(chosen);
    }
    roots.removeDuplicates();
    std::sort(roots.begin(), roots.end());
    clear();
    for (const QString& root : roots) {
        addItem(icon, root, root);
    }
    const int index = findData(chosen.isEmpty() ? QStringLiteral("/") : chosen);
    setCurrentIndex(std::max(index, 0));
}

void DriveSelector::showFolder(const QString& folder) {
    const QString root = QStorageInfo(folder).rootPath();
    const QString key = root.isEmpty() ? QStringLiteral("/") : root;
    int index = findData(key);
    if (index < 0) {
        addItem(style()->standardIcon(QStyle::SP_DriveHDIcon), key, key);
        index = count() - 1;
    }
    setCurrentIndex(index);
    m_lastFolder.insert(key, folder);
}

void DriveSelector::showPopup() {
    // Drives come and go (removable media, network shares): the list is read when it opens.
    readDrives();
    QComboBox::showPopup();
}

QString DriveSelector::drive() const {
    return currentData().toString();
}

void DriveSelector::onActivated(int index) {
    const QString root = itemData(index).toString();
    emit driveChosen(m_lastFolder.value(root, root));
}

// ---------------------------------------------------------------------------------------------

FolderList::FolderList(QWidget* parent) : QListWidget(parent) {
    setObjectName(QStringLiteral("DirectoryListBox10"));
    setItemDelegate(new IndentDelegate(this));
    setUniformItemSizes(true);
    connect(this, &QListWidget::itemActivated, this,
            [this](QListWidgetItem* item) { runGuarded([&] { openEntry(item); }); });
    m_directory = cleanFolder(QDir::currentPath());
    readEntries();
}

QString FolderList::entryPath(const QListWidgetItem* item) {
    return item != nullptr ? item->data(kPathRole).toString() : QString();
}

void FolderList::setDirectory(const QString& folder) {
    const QString target = cleanFolder(folder);
    const QFileInfo info(target);
    if (!info.isDir()) {
        throw tz::Error("The folder \"" + target.toStdString() + "\" does not exist.");
    }
    if (!info.isExecutable() || !QDir::setCurrent(target)) {
        throw tz::Error("The folder \"" + target.toStdString() + "\" cannot be opened.");
    }
    m_directory = target;
    readEntries();
    emit directoryChanged(m_directory);
}

void FolderList::refresh() {
    if (!QDir::setCurrent(m_directory)) {
        throw tz::Error("The folder \"" + m_directory.toStdString() + "\" cannot be opened.");
    }
    readEntries();
}

void FolderList::readEntries() {
    clear();
    const QIcon openIcon = style()->standardIcon(QStyle::SP_DirOpenIcon);
    const QIcon closedIcon = style()->standardIcon(QStyle::SP_DirClosedIcon);

    auto addEntry = [this](const QIcon& icon, const QString& text, const QString& path, int level) {
        auto* item = new QListWidgetItem(icon, text, this);
        item->setData(kPathRole, path);
        item->setData(kLevelRole, level);
        item->setToolTip(path);
        return item;
    };

    // The path from the root down to the folder shown.
    addEntry(openIcon, QStringLiteral("/"), QStringLiteral("/"), 0);
    const QStringList parts = m_directory.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    QString path;
    int level = 0;
    QListWidgetItem* current = item(0);
    for (const QString& part : parts) {
        path += QLatin1Char('/') + part;
        current = addEntry(openIcon, part, path, ++level);
    }
    setCurrentItem(current);

    // Its subfolders; hidden ones are left out like the hidden files of the file list.
    const QDir dir(m_directory);
    const QStringList subfolders =
        dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);
    for (const QString& name : subfolders) {
        addEntry(closedIcon, name, joinPath(m_directory, name), level + 1);
    }
}

void FolderList::openEntry(QListWidgetItem* item) {
    const QString path = entryPath(item);
    if (!path.isEmpty() && path != m_directory) {
        setDirectory(path);
    }
}

// ---------------------------------------------------------------------------------------------

PictureFileList::PictureFileList(QWidget* parent) : QListWidget(parent) {
    setObjectName(QStringLiteral("FileListBox10"));
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setUniformItemSizes(true);
    connect(this, &QListWidget::itemSelectionChanged, this, &PictureFileList::noteChange);
    connect(this, &QListWidget::currentRowChanged, this, &PictureFileList::noteChange);
}

QStringList PictureFileList::listPictures(const QString& folder) {
    QDir dir(folder);
    // The mask's patterns are matched without regard to letter case.
    dir.setNameFilters(QString::fromStdString(tz::resizedFileMask()).split(QLatin1Char(';')));
    // Without QDir::CaseSensitive the mask ignores letter case; without QDir::Hidden and
    // QDir::System hidden files and broken links stay out.
    return dir.entryList(QDir::Files, QDir::Name | QDir::IgnoreCase);
}

void PictureFileList::setDirectory(const QString& folder) {
    m_directory = folder;
    refresh();
}

void PictureFileList::refresh() {
    clear();
    if (m_directory.isEmpty()) {
        return;
    }
    QDir::setCurrent(m_directory);
    const QIcon icon = style()->standardIcon(QStyle::SP_FileIcon);
    for (const QString& name : listPictures(m_directory)) {
        new QListWidgetItem(icon, name, this);
    }
}

QStringList PictureFileList::names() const {
    QStringList result;
    result.reserve(count());
    for (int row = 0; row < count(); ++row) {
        result.append(item(row)->text());
    }
    return result;
}

QString PictureFileList::focusedFilePath() const {
    const QListWidgetItem* focused = currentItem();
    if (focused == nullptr || !focused->isSelected()) {
        return {};
    }
    return joinPath(m_directory, focused->text());
}

void PictureFileList::noteChange() {
    if (m_inUserInput) {
        m_changedByUser = true;
    }
}

template <class Dispatch>
void PictureFileList::trackUserInput(Dispatch dispatch) {
    m_inUserInput = true;
    m_changedByUser = false;
    dispatch();
    m_inUserInput = false;
    if (m_changedByUser) {
        m_changedByUser = false;
        emit userSelectionChanged();
    }
}

void PictureFileList::mousePressEvent(QMouseEvent* event) {
    trackUserInput([&] { QListWidget::mousePressEvent(event); });
}

void PictureFileList::mouseMoveEvent(QMouseEvent* event) {
    trackUserInput([&] { QListWidget::mouseMoveEvent(event); });
}

void PictureFileList::mouseReleaseEvent(QMouseEvent* event) {
    trackUserInput([&] { QListWidget::mouseReleaseEvent(event); });
}

void PictureFileList::keyPressEvent(QKeyEvent* event) {
    // Ctrl+A selects all on its release (onFileListKeyReleased), not through the view's own
    // shortcut, so Ctrl+Shift+A and Ctrl+Alt+A never select all.
    if (event->matches(QKeySequence::SelectAll)) {
        event->accept();
        return;
    }
    trackUserInput([&] { QListWidget::keyPressEvent(event); });
}

void PictureFileList::keyReleaseEvent(QKeyEvent* event) {
    if (!event->isAutoRepeat()) {
        emit keyReleased(event->key(), event->modifiers());
    }
    QListWidget::keyReleaseEvent(event);
}

}  // namespace tz::app
