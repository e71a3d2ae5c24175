// The file browser's controls over the mounted file systems and QDir.
#include "file_browser.h"

#include <QByteArrayList>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QPainter>
#include <QStorageInfo>
#include <QStyle>
#include <QStyledItemDelegate>

#include <algorithm>
#include <system_error>

#include "application.h"
#include "tz/errors.h"
#include "tz/picture_format.h"
#include "tz/trash.h"

namespace tz::app {

namespace {

constexpr int kPathRole = Qt::UserRole;
constexpr int kLevelRole = Qt::UserRole + 1;
constexpr int kNativeNameRole = Qt::UserRole + 2;
constexpr int kIndentStep = 10;

QString shownName(const std::string& name) {
    return QFile::decodeName(QByteArray::fromStdString(name));
}

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

// The focused item carries a dotted frame while its list has the focus, selected or not, so
// the keyboard's position is always visible (some styles draw it only after a Tab).
class FocusMarkDelegate : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyleOptionViewItem plain(option);
        plain.state &= ~QStyle::State_HasFocus;
        QStyledItemDelegate::paint(painter, plain, index);
        if ((option.state & QStyle::State_HasFocus) != 0) {
            painter->save();
            const bool selected = (option.state & QStyle::State_Selected) != 0;
            QPen pen(option.palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
            pen.setStyle(Qt::DotLine);
            painter->setPen(pen);
            painter->setBrush(Qt::NoBrush);
            painter->drawRect(option.rect.adjusted(0, 0, -1, -1));
            painter->restore();
        }
    }
};

// Folder entries are indented by their depth below the root, like a tree drawn flat.
class IndentDelegate : public FocusMarkDelegate {
  public:
    using FocusMarkDelegate::FocusMarkDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyleOptionViewItem indented(option);
        indented.rect.setLeft(option.rect.left() + indent(index));
        FocusMarkDelegate::paint(painter, indented, index);
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
    moveToTrash(std::filesystem::path(QFile::encodeName(path).toStdString()));
}

void moveToTrash(const std::filesystem::path& file) {
    std::error_code ignored;
    if (file.empty() || !std::filesystem::is_regular_file(file, ignored)) {
        return;
    }
    const int answer =
        showMessageBox(QMessageBox::Question, PictureFileList::tr("Confirm File Delete"),
                       PictureFileList::tr("Are you sure you want to move \"%1\" to the trash?")
                           .arg(shownName(file.filename().native())),
                       QMessageBox::Yes | QMessageBox::No);
    if (answer != QMessageBox::Yes) {
        return;
    }
    try {
        tz::trashFile(file);
    } catch (const std::exception& error) {
        const std::filesystem::path absolute = std::filesystem::absolute(file, ignored);
        showErrorBox(PictureFileList::tr("\"%1\" could not be moved to the trash.")
                         .arg(shownName(absolute.native())) +
                     QLatin1Char('\n') + QString::fromUtf8(error.what()));
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
        throw tz::Error(tr("The folder \"%1\" does not exist.").arg(target).toStdString());
    }
    if (!info.isExecutable() || !QDir::setCurrent(target)) {
        throw tz::Error(tr("The folder \"%1\" cannot be opened.").arg(target).toStdString());
    }
    m_directory = target;
    readEntries();
    emit directoryChanged(m_directory);
}

void FolderList::refresh() {
    if (!QDir::setCurrent(m_directory)) {
        throw tz::Error(tr("The folder \"%1\" cannot be opened.").arg(m_directory).toStdString());
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
    setItemDelegate(new FocusMarkDelegate(this));
    connect(this, &QListWidget::itemSelectionChanged, this, &PictureFileList::noteChange);
    connect(this, &QListWidget::currentRowChanged, this, &PictureFileList::noteChange);
}

std::vector<std::string> PictureFileList::listPictureNames(const QString& folder) {
    // Read as bytes: QDir drops names that are not valid UTF-8, which old media often have.
    const QStringList mask = QString::fromStdString(tz::resizedFileMask()).split(QLatin1Char(';'));
    std::vector<std::pair<QString, std::string>> found;
    std::error_code error;
    std::filesystem::directory_iterator entries(QFile::encodeName(folder).toStdString(), error);
    for (; !error && entries != std::filesystem::directory_iterator(); entries.increment(error)) {
        std::string name = entries->path().filename().native();
        std::error_code statusError;
        // Hidden files, folders and broken links stay out; links to files count as files.
        if (name.starts_with('.') || !entries->is_regular_file(statusError)) {
            continue;
        }
        QString shown = shownName(name);
        // The mask's patterns are matched without regard to letter case.
        if (QDir::match(mask, shown)) {
            found.emplace_back(std::move(shown), std::move(name));
        }
    }
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) {
        const int order = a.first.compare(b.first, Qt::CaseInsensitive);
        return order != 0 ? order < 0 : a.second < b.second;
    });
    std::vector<std::string> names;
    names.reserve(found.size());
    for (auto& entry : found) {
        names.push_back(std::move(entry.second));
    }
    return names;
}

QStringList PictureFileList::listPictures(const QString& folder) {
    QStringList shown;
    for (const std::string& name : listPictureNames(folder)) {
        shown.append(shownName(name));
    }
    return shown;
}

std::string PictureFileList::nativeName(const QListWidgetItem* item) {
    const QVariant stored = item->data(kNativeNameRole);
    if (stored.isValid()) {
        return stored.toByteArray().toStdString();
    }
    return QFile::encodeName(item->text()).toStdString();
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
    for (const std::string& name : listPictureNames(m_directory)) {
        auto* item = new QListWidgetItem(icon, shownName(name), this);
        item->setData(kNativeNameRole, QByteArray::fromStdString(name));
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

std::filesystem::path PictureFileList::focusedFileOnDisk() const {
    const QListWidgetItem* focused = currentItem();
    if (focused == nullptr || !focused->isSelected()) {
        return {};
    }
    return std::filesystem::path(QFile::encodeName(m_directory).toStdString()) /
           nativeName(focused);
}

void PictureFileList::selectNames(const std::vector<std::string>& names) {
    clearSelection();
    bool first = true;
    for (int row = 0; row < count(); ++row) {
        QListWidgetItem* entry = item(row);
        if (std::find(names.begin(), names.end(), nativeName(entry)) == names.end()) {
            continue;
        }
        if (first) {
            setCurrentItem(entry, QItemSelectionModel::Select);
            scrollToItem(entry);
            first = false;
        } else {
            entry->setSelected(true);
        }
    }
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
