// The default error box (reached from the application's notify() and from guarded handlers)
// and the browser widgets on their own.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <stdexcept>
#include <vector>

#include "application.h"
#include "file_browser.h"
#include "tz/errors.h"
#include "web_links.h"

using namespace tz::app;  // the classes under test

namespace {

// An object whose event handling fails, as a handler that forgot to guard itself would.
// (A posted user event: unwinding through Qt's own input delivery would skip the clean-up of
// its frames, which is why every handler of the program is guarded where it is connected.)
class FailingObject : public QObject {
  public:
    static constexpr QEvent::Type kFailingEvent = QEvent::User;

  protected:
    bool event(QEvent* event) override {
        if (event->type() == kFailingEvent) {
            throw tz::Error("Failed to set data for 'Recent1'");
        }
        return QObject::event(event);
    }
};

void touch(const QString& file) {
    QFile out(file);
    QVERIFY(out.open(QIODevice::WriteOnly));
    out.write("x");
}

}  // namespace

class TestApplication : public QObject {
    Q_OBJECT

  private slots:
    void init();
    void cleanup();

    void notifyShowsErrorsOfEventOverrides();
    void guardedHandlersReceiveSignalArguments();
    void nonStandardExceptionsAreShownToo();
    void aboutTextLines();
    void windowTitlesAreTheCaptionsAlone();
    void joinPathAddsOneSlash();
    void folderListEntersAndRefusesFolders();
    void fileListFocusedPathNeedsSelection();
    void focusMarkShowsOnTheFocusedItem();
    void sendToRecycleBinIgnoresFoldersAndMissingFiles();

  private:
    struct Box {
        QMessageBox::Icon icon;
        QString caption;
        QString text;
    };
    std::vector<Box> m_boxes;
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_path;
};

void TestApplication::init() {
    m_boxes.clear();
    tz::app::setMessageBoxHook([this](QMessageBox::Icon icon, const QString& caption,
                                      const QString& text, QMessageBox::StandardButtons) {
        m_boxes.push_back({icon, caption, text});
        return static_cast<int>(QMessageBox::Ok);
    });
    m_dir = std::make_unique<QTemporaryDir>();
    m_path = QFileInfo(m_dir->path()).canonicalFilePath();
}

void TestApplication::cleanup() {
    tz::app::setMessageBoxHook({});
    QDir::setCurrent(QDir::tempPath());
    m_dir.reset();
}

void TestApplication::notifyShowsErrorsOfEventOverrides() {
    FailingObject receiver;
    QEvent failing(FailingObject::kFailingEvent);
    QApplication::sendEvent(&receiver, &failing);
    QCOMPARE(m_boxes.size(), std::size_t{1});
    QCOMPARE(m_boxes[0].icon, QMessageBox::Critical);
    QCOMPARE(m_boxes[0].caption, QStringLiteral("Tovan Zevediz"));
    QCOMPARE(m_boxes[0].text, QStringLiteral("Failed to set data for 'Recent1'"));
    // The program goes on with the next event.
    QCoreApplication::postEvent(&receiver, new QEvent(FailingObject::kFailingEvent));
    QCoreApplication::processEvents();
    QCOMPARE(m_boxes.size(), std::size_t{2});
}

void TestApplication::guardedHandlersReceiveSignalArguments() {
    QObject sender;
    QString received;
    QObject::connect(&sender, &QObject::objectNameChanged, &sender,
                     tz::app::guarded([&](const QString& name) {
                         received = name;
                         throw tz::JpegError("JPEG error #42", 42);
                     }));
    sender.setObjectName(QStringLiteral("photo.jpg"));
    QCOMPARE(received, QStringLiteral("photo.jpg"));
    QCOMPARE(m_boxes.size(), std::size_t{1});
    QCOMPARE(m_boxes[0].text, QStringLiteral("JPEG error #42"));
}

void TestApplication::nonStandardExceptionsAreShownToo() {
    tz::app::runGuarded([] { throw 42; });
    QCOMPARE(m_boxes.size(), std::size_t{1});
    QVERIFY(!m_boxes[0].text.isEmpty());
    tz::app::runGuarded([] {});
    QCOMPARE(m_boxes.size(), std::size_t{1});
}

void TestApplication::windowTitlesAreTheCaptionsAlone() {
    configureApplication();
    QCOMPARE(QApplication::applicationName(), QStringLiteral("zevediz"));
    // Unset, the display name falls back to the application name; set, X11 titles would read
    // "View image — Tovan Zevediz".
    QCOMPARE(QGuiApplication::applicationDisplayName(), QApplication::applicationName());
}

void TestApplication::aboutTextLines() {
    const QString text = tz::app::aboutText(QStringLiteral("2016"), QStringLiteral("https://a.b/"));
    QCOMPARE(text, QStringLiteral("Tovan Zevediz 2016\n\n") +
                       QString::fromLatin1(tz::app::kMakerNotice) +
                       QStringLiteral("\n\nhttps://a.b/\nVisit web site?"));
}

void TestApplication::joinPathAddsOneSlash() {
    QCOMPARE(tz::app::joinPath(QStringLiteral("/"), QStringLiteral("a.jpg")),
             QStringLiteral("/a.jpg"));
    QCOMPARE(tz::app::joinPath(QStringLiteral("/pics"), QStringLiteral("a.jpg")),
             QStringLiteral("/pics/a.jpg"));
    QCOMPARE(tz::app::joinPath(QStringLiteral("/pics/"), QStringLiteral("a.jpg")),
             QStringLiteral("/pics/a.jpg"));
}

void TestApplication::folderListEntersAndRefusesFolders() {
    QVERIFY(QDir(m_path).mkpath(QStringLiteral("inner/deeper")));
    QVERIFY(QDir(m_path).mkpath(QStringLiteral(".hidden")));
    tz::app::FolderList folders;
    QSignalSpy moved(&folders, &tz::app::FolderList::directoryChanged);
    folders.setDirectory(m_path + QStringLiteral("/inner/../inner"));
    QCOMPARE(folders.directory(), m_path + QStringLiteral("/inner"));
    QCOMPARE(QDir::currentPath(), m_path + QStringLiteral("/inner"));
    QCOMPARE(moved.count(), 1);
    // Path from the root, then the one subfolder.
    const int components = static_cast<int>(
        (m_path + QStringLiteral("/inner")).split(QLatin1Char('/'), Qt::SkipEmptyParts).size());
    QCOMPARE(folders.count(), 1 + components + 1);
    QCOMPARE(tz::app::FolderList::entryPath(folders.item(folders.count() - 1)),
             m_path + QStringLiteral("/inner/deeper"));
    QCOMPARE(tz::app::FolderList::entryPath(folders.currentItem()),
             m_path + QStringLiteral("/inner"));

    // Opening an entry enters it.
    emit folders.itemActivated(folders.item(folders.count() - 1));
    QCOMPARE(folders.directory(), m_path + QStringLiteral("/inner/deeper"));

    // A folder that is gone or a file: an error, and nothing changes.
    touch(m_path + QStringLiteral("/file.jpg"));
    for (const QString& bad :
         {m_path + QStringLiteral("/missing"), m_path + QStringLiteral("/file.jpg")}) {
        QVERIFY_THROWS_EXCEPTION(tz::Error, folders.setDirectory(bad));
        QCOMPARE(folders.directory(), m_path + QStringLiteral("/inner/deeper"));
        QCOMPARE(QDir::currentPath(), m_path + QStringLiteral("/inner/deeper"));
    }
    QCOMPARE(moved.count(), 2);
}

// The focused item, selected or not, carries a visible frame while the list has the focus.
void TestApplication::focusMarkShowsOnTheFocusedItem() {
    for (const char* name : {"a.jpg", "b.jpg"}) {
        touch(m_path + QLatin1Char('/') + QString::fromLatin1(name));
    }
    tz::app::PictureFileList files;
    files.setDirectory(m_path);
    files.resize(120, 80);
    files.show();
    QApplication::setActiveWindow(&files);
    files.setFocus();
    QTRY_VERIFY(files.hasFocus());
    files.setCurrentRow(1, QItemSelectionModel::NoUpdate);
    files.clearSelection();
    const QRect item = files.visualItemRect(files.item(1));
    const QImage marked = files.viewport()->grab().toImage();
    files.clearFocus();
    QTRY_VERIFY(!files.hasFocus());
    const QImage plain = files.viewport()->grab().toImage();
    int differing = 0;
    for (int x = item.left(); x <= item.right(); ++x) {
        differing += marked.pixel(x, item.top()) != plain.pixel(x, item.top()) ? 1 : 0;
    }
    QVERIFY2(differing >= item.width() / 3, qPrintable(QString::number(differing)));
}

void TestApplication::fileListFocusedPathNeedsSelection() {
    for (const char* name : {"b.jpg", "a.BMP", "c.gif"}) {
        touch(m_path + QLatin1Char('/') + QString::fromLatin1(name));
    }
    tz::app::PictureFileList files;
    QSignalSpy userChanges(&files, &tz::app::PictureFileList::userSelectionChanged);
    files.setDirectory(m_path);
    QCOMPARE(files.names(), QStringList({"a.BMP", "b.jpg", "c.gif"}));
    QVERIFY(files.focusedFilePath().isEmpty());
    files.setCurrentRow(1, QItemSelectionModel::ClearAndSelect);
    QCOMPARE(files.focusedFilePath(), m_path + QStringLiteral("/b.jpg"));
    files.item(1)->setSelected(false);
    QVERIFY(files.focusedFilePath().isEmpty());
    files.selectAll();
    files.refresh();
    QVERIFY(files.selectedItems().isEmpty());
    // None of that was the user's doing.
    QCOMPARE(userChanges.count(), 0);
}

void TestApplication::sendToRecycleBinIgnoresFoldersAndMissingFiles() {
    QVERIFY(QDir(m_path).mkdir(QStringLiteral("folder.jpg")));
    tz::app::moveToTrash(QString());
    tz::app::moveToTrash(m_path + QStringLiteral("/folder.jpg"));
    tz::app::moveToTrash(m_path + QStringLiteral("/missing.jpg"));
    QVERIFY(m_boxes.empty());  // not even a question
    QVERIFY(QFileInfo(m_path + QStringLiteral("/folder.jpg")).isDir());
}

int main(int argc, char** argv) {
    // The program's own application object, so its notify() is the one under test.
    tz::app::Application application(argc, argv);
    TestApplication test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_application.moc"
