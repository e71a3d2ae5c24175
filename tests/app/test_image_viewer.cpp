// The image viewer: its size and centring rules, opening on files, closing by a click, and
// failures leaving it as it was.
#include <QScrollArea>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QtTest>

#include "animated_image.h"
#include "image_viewer.h"
#include "picture_files.h"

using namespace tz::app;  // the classes under test

namespace {

const QSize screen1024{1024, 768};

AnimatedImage* imageOf(const ImageViewer& viewer) {
    return qobject_cast<AnimatedImage*>(viewer.pictureView());
}

// The offscreen platform draws no frame, so there the outer size is the client size; the
// viewer itself allows for whatever frame the window system adds.
QRect outerGeometry(const ImageViewer& viewer) {
    return viewer.frameGeometry();
}

}  // namespace

class TestImageViewer : public QObject {
    Q_OBJECT

  private slots:
    void init() { QVERIFY(m_dir.isValid()); }

    void startsHiddenAsDesigned() {
        ImageViewer viewer;
        QVERIFY(!viewer.isVisible());
        QCOMPARE(viewer.windowTitle(), QStringLiteral("View image"));
        QCOMPARE(viewer.size(), QSize(182, 143));
        QVERIFY(!viewer.testAttribute(Qt::WA_QuitOnClose));
        QCOMPARE(viewer.pictureView()->objectName(), QStringLiteral("Image1"));
        QVERIFY(!imageOf(viewer)->hasPicture());
        QVERIFY(!imageOf(viewer)->stretch());
    }

    void sizeAndPlaceRules_data() {
        QTest::addColumn<QSize>("picture");
        QTest::addColumn<QSize>("screen");
        QTest::addColumn<QSize>("desktop");
        QTest::addColumn<QSize>("outer");
        QTest::addColumn<QPoint>("place");
        QTest::newRow("800x600 on 1024x768")
            << QSize(800, 600) << screen1024 << screen1024 << QSize(809, 628) << QPoint(107, 70);
        QTest::newRow("screen-sized picture")
            << QSize(1024, 768) << screen1024 << screen1024 << QSize(1015, 740) << QPoint(4, 14);
        QTest::newRow("1020 wide: wider than the screen, left 0")
            << QSize(1020, 300) << screen1024 << screen1024 << QSize(1029, 328) << QPoint(0, 220);
        QTest::newRow("larger than the screen")
            << QSize(3000, 2000) << screen1024 << screen1024 << QSize(1015, 740) << QPoint(4, 14);
        QTest::newRow("tall picture, top 0")
            << QSize(100, 760) << screen1024 << screen1024 << QSize(109, 788) << QPoint(457, 0);
        QTest::newRow("centred on a desktop of two displays")
            << QSize(800, 600) << screen1024 << QSize(2048, 768) << QSize(809, 628)
            << QPoint(619, 70);
        QTest::newRow("1x1 picture")
            << QSize(1, 1) << screen1024 << screen1024 << QSize(10, 29) << QPoint(507, 369);
    }

    void sizeAndPlaceRules() {
        QFETCH(QSize, picture);
        QFETCH(QSize, screen);
        QFETCH(QSize, desktop);
        QFETCH(QSize, outer);
        QFETCH(QPoint, place);
        QCOMPARE(viewerOuterSize(picture, screen), outer);
        QCOMPARE(viewerPosition(outer, desktop), place);
    }

    void openingSizesAndCentres_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QSize>("picture");
        QTest::addColumn<QRect>("outer");
        QTest::newRow("800x600 bmp") << "a.bmp" << QSize(800, 600) << QRect(107, 70, 809, 628);
        QTest::newRow("1024x768 jpg") << "b.jpg" << QSize(1024, 768) << QRect(4, 14, 1015, 740);
        QTest::newRow("1020x700 gif") << "c.GIF" << QSize(1020, 700) << QRect(0, 20, 1029, 728);
    }

    void openingSizesAndCentres() {
        QFETCH(QString, name);
        QFETCH(QSize, picture);
        QFETCH(QRect, outer);
        const QString path = m_dir.filePath(name);
        tz::test::writePicture(path, picture.width(), picture.height());

        ImageViewer viewer;
        QVERIFY(viewer.open(path, screen1024, screen1024));
        QVERIFY(viewer.isVisible());
        QCOMPARE(viewer.pictureView()->size(), picture);
        QCOMPARE(imageOf(viewer)->pictureSize(), picture);
        QCOMPARE(outerGeometry(viewer), outer);
    }

    void reopeningRecentres() {
        const QString big = m_dir.filePath("big.bmp");
        const QString small = m_dir.filePath("small.bmp");
        tz::test::writePicture(big, 800, 600);
        tz::test::writePicture(small, 100, 50);

        ImageViewer viewer;
        QVERIFY(viewer.open(big, screen1024, screen1024));
        viewer.move(5, 5);  // the user moves it away
        QVERIFY(viewer.open(small, screen1024, screen1024));
        QCOMPARE(outerGeometry(viewer), QRect(457, 345, 109, 78));
        QVERIFY(viewer.isVisible());
    }

    void clickOnPictureHides() {
        const QString path = m_dir.filePath("a.bmp");
        tz::test::writePicture(path, 40, 30);
        ImageViewer viewer;
        QVERIFY(viewer.open(path, screen1024, screen1024));
        QTest::mouseClick(viewer.pictureView(), Qt::LeftButton, {}, QPoint(20, 15));
        QVERIFY(!viewer.isVisible());

        QVERIFY(viewer.open(path, screen1024, screen1024));
        QVERIFY(viewer.isVisible());
        viewer.closeOnPictureClick();
        QVERIFY(!viewer.isVisible());
        // It keeps its picture and size while hidden.
        QCOMPARE(imageOf(viewer)->pictureSize(), QSize(40, 30));
        QCOMPARE(outerGeometry(viewer).size(), QSize(49, 58));
    }

    void escapeHides() {
        const QString path = m_dir.filePath("a.bmp");
        tz::test::writePicture(path, 40, 30);
        ImageViewer viewer;
        QVERIFY(viewer.open(path, screen1024, screen1024));
        // Pressed in the scroll area, which leaves Esc to its window.
        QTest::keyClick(viewer.findChild<QScrollArea*>(), Qt::Key_Escape);
        QVERIFY(!viewer.isVisible());
        QVERIFY(viewer.open(path, screen1024, screen1024));
        QTest::keyClick(viewer.findChild<QScrollArea*>(), Qt::Key_Escape, Qt::ShiftModifier);
        QVERIFY(viewer.isVisible());
    }

    void rightClickDoesNotHide() {
        const QString path = m_dir.filePath("a.bmp");
        tz::test::writePicture(path, 40, 30);
        ImageViewer viewer;
        QVERIFY(viewer.open(path, screen1024, screen1024));
        QTest::mouseClick(viewer.pictureView(), Qt::RightButton, {}, QPoint(20, 15));
        QVERIFY(viewer.isVisible());
    }

    void failureKeepsPictureAndSize_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("missing file") << "missing.jpg" << QByteArray();
        QTest::newRow("no picture class") << "notes.txt" << QByteArray("hello");
        QTest::newRow("corrupt jpeg") << "bad.jpeg" << QByteArray("\xFF\xD8\xFF\xE0 broken", 12);
        QTest::newRow("corrupt bmp") << "bad.bmp" << QByteArray("BM\x10\x00", 4);
        QTest::newRow("empty path") << QString() << QByteArray();
    }

    void failureKeepsPictureAndSize() {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        const QString good = m_dir.filePath("good.bmp");
        tz::test::writePicture(good, 300, 200);
        const QString bad = name.isEmpty() ? QString() : m_dir.filePath(name);
        if (!content.isNull()) {
            tz::test::writeFile(bad, tz::test::Bytes(content.begin(), content.end()));
        }

        ImageViewer viewer;
        QVERIFY(viewer.open(good, screen1024, screen1024));
        const QRect before = outerGeometry(viewer);
        const QImage shown = imageOf(viewer)->currentImage();

        QVERIFY(!viewer.open(bad, screen1024, screen1024));
        QVERIFY(viewer.isVisible());
        QCOMPARE(outerGeometry(viewer), before);
        QCOMPARE(viewer.pictureView()->size(), QSize(300, 200));
        QCOMPARE(imageOf(viewer)->currentImage(), shown);

        // A hidden viewer stays hidden.
        viewer.closeOnPictureClick();
        QVERIFY(!viewer.open(bad, screen1024, screen1024));
        QVERIFY(!viewer.isVisible());
        QCOMPARE(outerGeometry(viewer).size(), before.size());
    }

    void doesNotKeepTheProgramRunning() {
        const QString path = m_dir.filePath("a.bmp");
        tz::test::writePicture(path, 40, 30);
        QWidget mainWindow;
        ImageViewer viewer;
        QVERIFY(viewer.open(path, screen1024, screen1024));
        // Closing the main window ends the loop although the viewer is still shown.
        QCOMPARE(tz::test::loopExitWhenMainWindowCloses(mainWindow), 0);
    }

    void pictureLargerThanWindowScrolls() {
        const QString path = m_dir.filePath("wide.bmp");
        tz::test::writePicture(path, 1200, 900);
        ImageViewer viewer;
        QVERIFY(viewer.open(path, screen1024, screen1024));
        auto* scrollBox = viewer.findChild<QScrollArea*>();
        QVERIFY(scrollBox != nullptr);
        QVERIFY(scrollBox->horizontalScrollBar()->maximum() > 0);
        QVERIFY(scrollBox->verticalScrollBar()->maximum() > 0);
        QVERIFY(scrollBox->horizontalScrollBar()->hasTracking());
        QVERIFY(scrollBox->verticalScrollBar()->hasTracking());
        // The picture sits at the client origin.
        QCOMPARE(viewer.pictureView()->pos(), QPoint(0, 0));
    }

    void animatedGifPlaysUntilReplaced() {
        const tz::Rgb red{255, 0, 0};
        const tz::Rgb green{0, 255, 0};
        const tz::Rgb blue{0, 0, 255};
        const QString gif = m_dir.filePath("anim.gif");
        tz::test::writeFile(gif, tz::test::animatedGifBytes(8, 6, {red, green, blue}, 10, 0));
        const QString jpg = m_dir.filePath("still.jpg");
        tz::test::writePicture(jpg, 8, 6);

        ImageViewer viewer;
        QVERIFY(viewer.open(gif, screen1024, screen1024));
        AnimatedImage* image = imageOf(viewer);
        QCOMPARE(image->pictureSize(), QSize(8, 6));
        QVERIFY(image->playing());
        QTRY_COMPARE_WITH_TIMEOUT(image->currentFrame(), 1, 2000);
        QTRY_COMPARE_WITH_TIMEOUT(image->currentFrame(), 2, 2000);

        // Hiding does not stop it: the viewer keeps its picture as it was.
        viewer.closeOnPictureClick();
        QVERIFY(image->playing());

        QVERIFY(viewer.open(jpg, screen1024, screen1024));
        QVERIFY(!image->playing());
        const QImage still = image->currentImage();
        QTest::qWait(300);
        QCOMPARE(image->currentImage(), still);
    }

  private:
    QTemporaryDir m_dir;
};

QTEST_MAIN(TestImageViewer)
#include "test_image_viewer.moc"
