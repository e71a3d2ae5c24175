// The preview window: its size rule, loading by extension, failures keeping the picture, and
// animated GIFs playing on the window's timer.
#include <QCloseEvent>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <filesystem>

#include "animated_image.h"
#include "picture_bridge.h"
#include "picture_files.h"
#include "preview_window.h"
#include "support/corpus.h"
#include "tz/bmp.h"

using namespace tz::app;  // the classes under test

namespace {

constexpr int divisor = 4;  // the program's preview divisor

const tz::Rgb red{255, 0, 0};
const tz::Rgb green{0, 255, 0};
const tz::Rgb blue{0, 0, 255};

AnimatedImage* imageOf(const PreviewWindow& window) {
    return qobject_cast<AnimatedImage*>(window.pictureView());
}

}  // namespace

class TestPreviewWindow : public QObject {
    Q_OBJECT

  private slots:
    void init() { QVERIFY(m_dir.isValid()); }

    void startsHiddenAsDesigned() {
        PreviewWindow window;
        QVERIFY(!window.isVisible());
        QCOMPARE(window.windowTitle(), QStringLiteral("Preview"));
        QCOMPARE(window.pos(), QPoint(555, 180));
        QVERIFY(window.windowFlags().testFlag(Qt::Tool));
        QVERIFY(window.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        QVERIFY(!window.testAttribute(Qt::WA_QuitOnClose));
        QCOMPARE(window.pictureView()->objectName(), QStringLiteral("Image1"));
        QCOMPARE(window.pictureView()->geometry(), QRect(0, 0, 137, 85));
        QCOMPARE(window.size(), QSize(137, 85));
        QVERIFY(!imageOf(window)->hasPicture());
        QVERIFY(imageOf(window)->stretch());
    }

    void sizeRule_data() {
        QTest::addColumn<QSize>("natural");
        QTest::addColumn<QSize>("expected");
        QTest::newRow("187.5 rounds up to even 188") << QSize(1000, 750) << QSize(250, 188);
        QTest::newRow("250.5 rounds down to even 250") << QSize(1002, 750) << QSize(250, 188);
        QTest::newRow("2.5 rounds down to 2") << QSize(10, 10) << QSize(2, 2);
        QTest::newRow("0.5 rounds down to 0") << QSize(2, 2) << QSize(0, 0);
        QTest::newRow("x.75 rounds up") << QSize(1023, 767) << QSize(256, 192);
        QTest::newRow("255.5 and 191.5 round up to even") << QSize(1022, 766) << QSize(256, 192);
        QTest::newRow("1.5 rounds up to 2") << QSize(6, 6) << QSize(2, 2);
        QTest::newRow("no picture") << QSize(0, 0) << QSize(0, 0);
    }

    void sizeRule() {
        QFETCH(QSize, natural);
        QFETCH(QSize, expected);
        QCOMPARE(previewImageSize(natural, divisor), expected);
    }

    void fittedSizeRule_data() {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QSize>("limit");
        QTest::addColumn<QSize>("expected");
        QTest::newRow("fits: unchanged") << QSize(250, 188) << QSize(791, 572) << QSize(250, 188);
        QTest::newRow("exactly the limit") << QSize(791, 572) << QSize(791, 572) << QSize(791, 572);
        // A 20 MP photograph's quarter on a 1280 x 800 screen less the frame: width decides,
        // 848 x 1271 / 1507 = 715.2.
        QTest::newRow("too wide") << QSize(1507, 848) << QSize(1271, 772) << QSize(1271, 715);
        // 1000 x 772 / 1500 = 514.7.
        QTest::newRow("too tall") << QSize(1000, 1500) << QSize(1271, 772) << QSize(515, 772);
        QTest::newRow("a sliver keeps a pixel")
            << QSize(4000, 1) << QSize(400, 300) << QSize(400, 1);
        QTest::newRow("no limit known") << QSize(1507, 848) << QSize(0, 0) << QSize(1507, 848);
    }

    void fittedSizeRule() {
        QFETCH(QSize, size);
        QFETCH(QSize, limit);
        QFETCH(QSize, expected);
        QCOMPARE(fittedPreviewSize(size, limit), expected);
    }

    void reductionRule_data() {
        QTest::addColumn<QSize>("natural");
        QTest::addColumn<QSize>("shown");
        QTest::addColumn<int>("expected");
        QTest::newRow("24 MP to 1271 wide: a quarter")
            << QSize(6000, 4000) << QSize(1271, 847) << 4;
        QTest::newRow("exactly a quarter") << QSize(6000, 4000) << QSize(1500, 1000) << 4;
        QTest::newRow("one pixel more: a half") << QSize(6000, 4000) << QSize(1501, 1000) << 2;
        QTest::newRow("an eighth") << QSize(6000, 4000) << QSize(750, 500) << 8;
        // The decoder rounds up: 30 / 4 = 7.5 gives 8 rows.
        QTest::newRow("rounded up sides") << QSize(40, 30) << QSize(10, 8) << 4;
        QTest::newRow("shown at full size") << QSize(640, 480) << QSize(640, 480) << 1;
        QTest::newRow("nothing shown") << QSize(640, 480) << QSize(0, 0) << 8;
    }

    void reductionRule() {
        QFETCH(QSize, natural);
        QFETCH(QSize, shown);
        QFETCH(int, expected);
        QCOMPARE(reductionFor(natural, shown), expected);
    }

    void reducedJpegKeepsItsNaturalSize() {
        const QString path = m_dir.filePath("large.jpg");
        tz::test::writeFile(path, tz::test::jpegBytes(tz::test::solidBitmap(800, 600, blue)));
        const ScreenPicture picture =
            loadReducedPicture(path.toStdString(), [](QSize) { return QSize(200, 150); });
        QCOMPARE(picture.size, QSize(800, 600));
        QCOMPARE(picture.still.size(), QSize(200, 150));  // decoded at a quarter
        const QColor middle = picture.still.pixelColor(100, 75);
        QVERIFY(middle.blue() >= 250 && middle.red() <= 5 && middle.green() <= 5);
        // Without a shown size it decodes whole, as the viewer needs it.
        QCOMPARE(loadScreenPicture(path).still.size(), QSize(800, 600));
    }

    // A 4000 x 1000 picture's quarter is 1000 x 250; on an 800 x 600 screen it is fitted to the
    // screen less the window's frame, and the window moves back onto the screen.
    void previewFitsTheScreen() {
        const QString path = m_dir.filePath("panorama.bmp");
        tz::test::writeFile(path, tz::encodeBmp(tz::test::solidBitmap(4000, 1000, green)));
        PreviewWindow window;
        window.setAvailableArea([] { return QRect(0, 0, 800, 600); });
        window.show();
        window.showFile(path.toStdString());
        QTRY_VERIFY(!window.filePending());
        QCOMPARE(imageOf(window)->pictureSize(), QSize(4000, 1000));
        QSize frame = window.frameGeometry().size() - window.size();
        if (frame.isEmpty()) {
            frame = QSize(9, 28);  // what the window expects before a frame is known
        }
        const int width = 800 - frame.width();
        QCOMPARE(window.pictureView()->size(), QSize(width, qRound(width / 4.0)));
        QVERIFY(QRect(0, 0, 800, 600)
                    .contains(QRect(window.frameGeometry().topLeft(), window.size() + frame)));
    }

    void burstOfFilesDecodesOnlyTheLast() {
        QStringList paths;
        for (int index = 0; index < 5; ++index) {
            paths.append(m_dir.filePath(QStringLiteral("burst%1.bmp").arg(index)));
            tz::test::writeFile(paths.back(), tz::encodeBmp(tz::test::solidBitmap(
                                                  8 * (index + 1), 8, tz::Rgb{255, 0, 0})));
        }
        PreviewWindow window;
        QStringList decoded;
        window.setPictureLoader([&](const std::filesystem::path& file, const ShownSizeRule& rule) {
            decoded.append(QString::fromStdString(file.string()));
            return loadReducedPicture(file, rule);
        });
        for (const QString& path : paths) {
            window.showFile(path.toStdString());
        }
        QVERIFY(window.filePending());
        QTRY_VERIFY(!window.filePending());
        QCOMPARE(decoded, QStringList{paths.back()});
        QCOMPARE(imageOf(window)->pictureSize(), QSize(40, 8));
        QCOMPARE(window.pictureView()->size(), QSize(10, 2));
    }

    void sizeOfLoadedFile_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QSize>("natural");
        QTest::addColumn<QSize>("expected");
        QTest::newRow("bmp 1000x750") << "a.bmp" << QSize(1000, 750) << QSize(250, 188);
        QTest::newRow("jpg 1002x750") << "b.jpg" << QSize(1002, 750) << QSize(250, 188);
        QTest::newRow("gif 10x10") << "c.gif" << QSize(10, 10) << QSize(2, 2);
        QTest::newRow("bmp 2x2") << "d.bmp" << QSize(2, 2) << QSize(0, 0);
        QTest::newRow("jpeg 1023x767") << "e.jpeg" << QSize(1023, 767) << QSize(256, 192);
        QTest::newRow("upper-case GIF") << "f.GIF" << QSize(1022, 766) << QSize(256, 192);
        QTest::newRow("mixed-case Jpg") << "g.Jpg" << QSize(20, 12) << QSize(5, 3);
        QTest::newRow("upper-case BMP") << "h.BMP" << QSize(18, 14) << QSize(4, 4);
    }

    void sizeOfLoadedFile() {
        QFETCH(QString, name);
        QFETCH(QSize, natural);
        QFETCH(QSize, expected);
        const QString path = m_dir.filePath(name);
        tz::test::writePicture(path, natural.width(), natural.height());

        PreviewWindow window;
        QVERIFY(window.loadPicture(path));
        // Loading alone leaves the image area as it was.
        QCOMPARE(window.pictureView()->size(), QSize(137, 85));
        window.fitImage(divisor);
        QCOMPARE(imageOf(window)->pictureSize(), natural);
        QCOMPARE(window.pictureView()->size(), expected);
        QCOMPARE(window.pictureView()->pos(), QPoint(0, 0));
        QCOMPARE(window.size(), expected.expandedTo(QSize(1, 1)));
    }

    void noPictureFitsToNothing() {
        PreviewWindow window;
        window.fitImage(divisor);
        QCOMPARE(window.pictureView()->size(), QSize(0, 0));
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(window.pictureView()->size(), QSize(0, 0));
    }

    void failedLoadKeepsPicture_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("content");
        const auto bmp = tz::encodeBmp(tz::test::solidBitmap(8, 8, blue));
        const QByteArray bmpBytes(reinterpret_cast<const char*>(bmp.data()),
                                  static_cast<qsizetype>(bmp.size()));
        QTest::newRow("missing file") << "missing.bmp" << QByteArray();
        QTest::newRow("no picture class for png") << "real.png" << bmpBytes;
        QTest::newRow("no extension") << "picture" << bmpBytes;
        QTest::newRow("truncated bmp") << "cut.bmp" << bmpBytes.left(20);
        QTest::newRow("text as jpeg") << "text.jpg" << QByteArray("not a picture at all");
        QTest::newRow("empty gif") << "empty.gif" << QByteArray("");
        QTest::newRow("gif header only") << "head.gif" << QByteArray("GIF89a");
        QTest::newRow("empty path") << QString() << QByteArray();
    }

    void failedLoadKeepsPicture() {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        const QString good = m_dir.filePath("good.bmp");
        tz::test::writeFile(good, tz::encodeBmp(tz::test::solidBitmap(1000, 750, red)));
        QString bad;
        if (!name.isEmpty()) {
            bad = m_dir.filePath(name);
            if (!content.isNull()) {
                tz::test::writeFile(bad, tz::test::Bytes(content.begin(), content.end()));
            }
        }

        PreviewWindow window;
        QVERIFY(window.loadPicture(good));
        window.fitImage(divisor);
        const QImage before = imageOf(window)->currentImage();

        QVERIFY(!window.loadPicture(bad));
        window.fitImage(divisor);
        QCOMPARE(imageOf(window)->pictureSize(), QSize(1000, 750));
        QCOMPARE(window.pictureView()->size(), QSize(250, 188));
        QCOMPARE(imageOf(window)->currentImage(), before);
    }

    // Small files declaring gigapixel pictures are refused from their headers, at once.
    void hugePictureIsRefused_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("content");

        auto gif = tz::test::animatedGifBytes(1, 1, {red}, 3);
        gif[6] = 0x20;  // logical screen 20000 × 20000 (0x4E20)
        gif[7] = 0x4E;
        gif[8] = 0x20;
        gif[9] = 0x4E;
        QTest::newRow("gif screen 20000x20000")
            << "huge.gif"
            << QByteArray(reinterpret_cast<const char*>(gif.data()), qsizetype(gif.size()));

        auto jpeg = tz::test::jpegBytes(tz::test::solidBitmap(8, 8, blue));
        const QByteArray jpegBytes(reinterpret_cast<const char*>(jpeg.data()),
                                   qsizetype(jpeg.size()));
        const qsizetype frame = jpegBytes.indexOf(QByteArray("\xFF\xC0", 2));
        QVERIFY(frame > 0);
        QByteArray hugeJpeg = jpegBytes;
        // Frame header: marker, length (2), precision (1), height (2), width (2).
        hugeJpeg.replace(frame + 5, 4, QByteArray("\x4E\x20\x4E\x20", 4));
        QTest::newRow("jpeg frame 20000x20000") << "huge.jpg" << hugeJpeg;
    }

    void hugePictureIsRefused() {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        const QString good = m_dir.filePath("good.bmp");
        tz::test::writeFile(good, tz::encodeBmp(tz::test::solidBitmap(40, 30, red)));
        const QString huge = m_dir.filePath(name);
        tz::test::writeFile(huge, tz::test::Bytes(content.begin(), content.end()));

        PreviewWindow window;
        QVERIFY(window.loadPicture(good));
        QVERIFY(!window.loadPicture(huge));
        window.fitImage(divisor);
        QCOMPARE(imageOf(window)->pictureSize(), QSize(40, 30));
        QCOMPARE(window.pictureView()->size(), QSize(10, 8));
    }

    void showsThePictureColours() {
        tz::Bitmap bitmap(2, 1);
        bitmap.setColor(0, 0, {10, 20, 30});
        bitmap.setColor(1, 0, {200, 100, 50});
        const QString path = m_dir.filePath("two.bmp");
        tz::test::writeFile(path, tz::encodeBmp(bitmap));

        PreviewWindow window;
        QVERIFY(window.loadPicture(path));
        const QImage shown = imageOf(window)->currentImage();
        QCOMPARE(shown.size(), QSize(2, 1));
        QCOMPARE(shown.pixelColor(0, 0), QColor(10, 20, 30));
        QCOMPARE(shown.pixelColor(1, 0), QColor(200, 100, 50));
    }

    void paintsThePictureStretchedToItsArea() {
        tz::Bitmap bitmap(40, 32);
        for (int y = 0; y < 32; ++y) {
            for (int x = 0; x < 40; ++x) {
                bitmap.setColor(x, y, x < 20 ? blue : green);
            }
        }
        const QString path = m_dir.filePath("halves.bmp");
        tz::test::writeFile(path, tz::encodeBmp(bitmap));

        PreviewWindow window;
        QVERIFY(window.loadPicture(path));
        window.fitImage(divisor);
        const QImage painted = window.pictureView()->grab().toImage();
        QCOMPARE(painted.size(), QSize(10, 8));
        QCOMPARE(painted.pixelColor(1, 4), QColor(Qt::blue));
        QCOMPARE(painted.pixelColor(8, 4), QColor(Qt::green));
    }

    void bridgeReadsIndexedBitmaps() {
        tz::Bitmap bitmap(3, 1, tz::PixelFormat::Bits8, {{0, 0, 0}, {1, 2, 3}, {250, 128, 7}});
        bitmap.setIndex(0, 0, 2);
        bitmap.setIndex(1, 0, 1);
        bitmap.setIndex(2, 0, 0);
        const QImage image = toQImage(bitmap);
        QCOMPARE(image.size(), QSize(3, 1));
        QCOMPARE(image.pixelColor(0, 0), QColor(250, 128, 7));
        QCOMPARE(image.pixelColor(1, 0), QColor(1, 2, 3));
        QCOMPARE(image.pixelColor(2, 0), QColor(0, 0, 0));
        QVERIFY(toQImage(tz::Bitmap()).isNull());
    }

    void closeBoxHidesAndSignals() {
        PreviewWindow window;
        QSignalSpy closed(&window, &PreviewWindow::closed);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QVERIFY(window.close());
        QCOMPARE(closed.count(), 1);
        QVERIFY(!window.isVisible());
        window.show();  // shown again with what it had
        QVERIFY(window.isVisible());
    }

    void doesNotKeepTheProgramRunning() {
        QWidget mainWindow;
        PreviewWindow window;
        window.show();
        // Closing the main window ends the loop although the preview is still shown.
        QCOMPARE(tz::test::loopExitWhenMainWindowCloses(mainWindow), 0);
    }

    // Frames of 10 hundredths stay 120 ms on screen, long enough for each to be seen.
    void animatedGifLoops() {
        const QString path = m_dir.filePath("loop.gif");
        tz::test::writeFile(path, tz::test::animatedGifBytes(6, 4, {red, green, blue}, 10, 0));
        PreviewWindow window;
        QVERIFY(window.loadPicture(path));
        window.fitImage(divisor);
        QCOMPARE(window.pictureView()->size(), QSize(2, 1));
        AnimatedImage* image = imageOf(window);
        QVERIFY(image->playing());
        QCOMPARE(image->currentFrame(), 0);
        QCOMPARE(image->currentImage().pixelColor(0, 0), QColor(Qt::red));
        QTRY_COMPARE_WITH_TIMEOUT(image->currentFrame(), 1, 2000);
        QCOMPARE(image->currentImage().pixelColor(5, 3), QColor(Qt::green));
        QTRY_COMPARE_WITH_TIMEOUT(image->currentFrame(), 2, 2000);
        QCOMPARE(image->currentImage().pixelColor(0, 0), QColor(Qt::blue));
        // Endless looping: back to the first frame.
        QTRY_COMPARE_WITH_TIMEOUT(image->currentFrame(), 0, 2000);
        QVERIFY(image->playing());
    }

    void animationWithoutLoopingPlaysOnePass() {
        const QString path = m_dir.filePath("once.gif");
        tz::test::writeFile(path, tz::test::animatedGifBytes(4, 4, {red, green, blue}, 3));
        PreviewWindow window;
        QVERIFY(window.loadPicture(path));
        AnimatedImage* image = imageOf(window);
        QVERIFY(image->playing());
        QTRY_VERIFY_WITH_TIMEOUT(!image->playing(), 3000);
        QCOMPARE(image->currentFrame(), 2);
        QCOMPARE(image->currentImage().pixelColor(1, 1), QColor(Qt::blue));
    }

    void replacingThePictureStopsTheAnimation() {
        const QString gif = m_dir.filePath("loop.gif");
        tz::test::writeFile(gif, tz::test::animatedGifBytes(4, 4, {red, green}, 10, 0));
        const QString bmp = m_dir.filePath("still.bmp");
        tz::test::writeFile(bmp, tz::encodeBmp(tz::test::solidBitmap(4, 4, blue)));

        PreviewWindow window;
        QVERIFY(window.loadPicture(gif));
        AnimatedImage* image = imageOf(window);
        QTRY_COMPARE_WITH_TIMEOUT(image->currentFrame(), 1, 2000);

        // A failed load keeps the animation playing with the rest of the picture.
        QVERIFY(!window.loadPicture(m_dir.filePath("missing.gif")));
        QVERIFY(image->playing());

        QVERIFY(window.loadPicture(bmp));
        QVERIFY(!image->playing());
        QTest::qWait(300);  // more than two frame waits
        QCOMPARE(image->currentImage().pixelColor(0, 0), QColor(Qt::blue));
        QCOMPARE(image->currentFrame(), 0);
    }

    void clearingThePictureStopsTheAnimation() {
        const QString gif = m_dir.filePath("loop.gif");
        tz::test::writeFile(gif, tz::test::animatedGifBytes(4, 4, {red, green}, 3, 0));
        PreviewWindow window;
        QVERIFY(window.loadPicture(gif));
        AnimatedImage* image = imageOf(window);
        QVERIFY(image->playing());
        image->clear();
        QVERIFY(!image->playing());
        QVERIFY(!image->hasPicture());
        QCOMPARE(image->pictureSize(), QSize(0, 0));
    }

    void stillGifDoesNotPlay() {
        const QString path = m_dir.filePath("one.gif");
        tz::test::writeFile(path, tz::test::animatedGifBytes(4, 4, {green}, 3, 0));
        PreviewWindow window;
        QVERIFY(window.loadPicture(path));
        QVERIFY(!imageOf(window)->playing());
        QCOMPARE(imageOf(window)->currentImage().pixelColor(3, 3), QColor(Qt::green));
    }

    // Every real-world file either shows at the size the corpus states or is refused quietly;
    // none crashes or hangs the window.
    void corpusFiles_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("mustFail");
        QTest::addColumn<QSize>("natural");  // invalid where the corpus states no size
        if (tz::test::corpusDir().empty()) {
            QSKIP(qPrintable(QString::fromStdString(tz::test::corpusAbsentMessage())));
        }
        for (const char* format : {"bmp", "gif", "jpeg"}) {
            const std::filesystem::path folder = tz::test::corpusFolder(format);
            for (const tz::test::CorpusEntry& entry : tz::test::readCorpusManifest(format)) {
                const bool loads = entry.outcome == tz::test::CorpusOutcome::Loads;
                QTest::newRow(qPrintable(QString::fromStdString(entry.file)))
                    << QString::fromStdString((folder / entry.file).string())
                    << (entry.outcome == tz::test::CorpusOutcome::MustFail)
                    << (loads ? QSize(entry.size->width, entry.size->height) : QSize());
            }
        }
    }

    void corpusFiles() {
        QFETCH(QString, path);
        QFETCH(bool, mustFail);
        QFETCH(QSize, natural);
        PreviewWindow window;
        window.setAvailableArea([] { return QRect(); });  // the quarter rule alone
        const bool loaded = window.loadPicture(path);
        window.fitImage(divisor);
        if (mustFail) {
            QVERIFY(!loaded);
        } else if (natural.isValid() && loaded) {
            QCOMPARE(imageOf(window)->pictureSize(), natural);
            QCOMPARE(window.pictureView()->size(), previewImageSize(natural, divisor));
        }
        if (!loaded) {
            QCOMPARE(window.pictureView()->size(), QSize(0, 0));
        }
    }

  private:
    QTemporaryDir m_dir;
};

QTEST_MAIN(TestPreviewWindow)
#include "test_preview_window.moc"
