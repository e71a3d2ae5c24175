// The three controls of the file browser: drive selector, folder list and file list.
// The folder list owns the browsed folder and keeps the process's current folder equal to it.
#pragma once

#include <QComboBox>
#include <QListWidget>
#include <QMap>
#include <QString>
#include <QStringList>

#include <filesystem>
#include <string>
#include <vector>

namespace tz::app {

// The mounted file systems of the machine, each shown by its root folder. Choosing one moves
// the linked folder list to the folder last browsed on it (its root at first).
class DriveSelector : public QComboBox {
    Q_OBJECT
  public:
    explicit DriveSelector(QWidget* parent = nullptr);

    // Re-reads the mounted file systems.
    void readDrives();
    // Selects the file system holding `folder` and remembers `folder` as its current folder.
    void showFolder(const QString& folder);
    // The root folder of the chosen file system.
    QString drive() const;

    // Re-reads the drives before the list opens.
    void showPopup() override;

  signals:
    // The user chose a file system; `folder` is where to browse on it.
    void driveChosen(const QString& folder);

  private:
    void onActivated(int index);

    QMap<QString, QString> m_lastFolder;  // root folder -> last folder browsed on it
};

// The folder tree from the root down to the current folder, then the current folder's
// subfolders. Opening an entry (double click or Enter) makes it the current folder.
class FolderList : public QListWidget {
    Q_OBJECT
  public:
    explicit FolderList(QWidget* parent = nullptr);

    // The folder shown, a full path without a trailing "/" (except the root "/").
    QString directory() const { return m_directory; }
    // Enters `folder`: the folder shown and the process's current folder both become it.
    // Throws tz::Error when it cannot be entered; then nothing has changed.
    void setDirectory(const QString& folder);
    // Re-reads the entries of the folder shown and makes it the current folder again.
    // Throws tz::Error when the folder can no longer be entered.
    void refresh();

    // The entry's full path.
    static QString entryPath(const QListWidgetItem* item);

  signals:
    void directoryChanged(const QString& folder);

  private:
    void readEntries();
    void openEntry(QListWidgetItem* item);

    QString m_directory;
};

// The masked, multi-select list of picture files of one folder, as bare names sorted without
// regard to letter case; no folders and no hidden files. Each item keeps its name as the file
// system spells it; a name that is not UTF-8 is shown with replacement characters.
class PictureFileList : public QListWidget {
    Q_OBJECT
  public:
    explicit PictureFileList(QWidget* parent = nullptr);

    QString directory() const { return m_directory; }
    // Shows the files of `folder`.
    void setDirectory(const QString& folder);
    // Re-reads the folder shown; clears every selection flag.
    void refresh();

    // Every name currently listed, in list order.
    QStringList names() const;
    // The focused item's full path when that item is selected; empty otherwise.
    QString focusedFilePath() const;
    // The same as the file system spells it.
    std::filesystem::path focusedFileOnDisk() const;
    // Selects the items of these names (as the file system spells them) and nothing else, and
    // focuses the first of them.
    void selectNames(const std::vector<std::string>& names);

    // The names matching the mask in `folder`, as shown, in list order.
    static QStringList listPictures(const QString& folder);
    // The same names as the file system spells them.
    static std::vector<std::string> listPictureNames(const QString& folder);
    // An item's name as the file system spells it.
    static std::string nativeName(const QListWidgetItem* item);

  signals:
    // The user changed the selection or the focus, by mouse or keyboard (not the program).
    void userSelectionChanged();
    // A key was released in the list (auto-repeat releases are not reported).
    void keyReleased(int key, Qt::KeyboardModifiers modifiers);

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

  private:
    // Runs one input event and reports a selection change it made, once.
    template <class Dispatch>
    void trackUserInput(Dispatch dispatch);
    void noteChange();

    QString m_directory;
    bool m_inUserInput = false;
    bool m_changedByUser = false;
};

// Moves one file to the desktop's trash (tz::trashFile) after the user confirmed it. A path that
// names no file (empty, absent, a folder) does nothing; a move that fails is reported in the
// error box and leaves the file in place.
void moveToTrash(const QString& path);
void moveToTrash(const std::filesystem::path& file);

// `name` joined to `folder` with one "/" between them.
QString joinPath(const QString& folder, const QString& name);

}  // namespace tz::app
