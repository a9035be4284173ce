// The compiled-in pictures: every name the windows use is in the resource tree, loads, has the
// proportions of the widget that shows it, and suits the background it sits on.

#include <QDir>
#include <QIcon>
#include <QImage>
#include <QImageReader>
#include <QSet>
#include <QtTest>

#include <cmath>

namespace {

const QStringList kPictureNames = {"tavio_ziti.png",   "panel_min_hover.png", "panel_close_hover.png",
                                   "BG.png",           "yyzslogo384.ico",     "yyzslogo384.png",
                                   "yyzslogo.ico",     "ic_zuixiaohua.png",   "yyzslogo128.ico",
                                   "yyzslogo128.png",  "yyzslogo156.ico",     "yyzslogo156.png",
                                   "ic_guanbi_fx.png", "ic_gengduo.png",      "ic_jingyinzhong.png",
                                   "ic_guanbi.png",    "ic_jingyin.png",      "ic_zuixiaohua_fx.png"};

QImage load(const QString& name)
{
    QImageReader reader(QStringLiteral(":/") + name);
    return reader.read().convertToFormat(QImage::Format_ARGB32);
}

// Mean colour of the clearly visible pixels (the glyph of an icon on a transparent canvas).
QColor inkColour(const QImage& image, int* inkPixels = nullptr)
{
    double red = 0, green = 0, blue = 0;
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = image.pixel(x, y);
            if (qAlpha(pixel) < 200)
                continue;
            red += qRed(pixel);
            green += qGreen(pixel);
            blue += qBlue(pixel);
            ++count;
        }
    }
    if (inkPixels)
        *inkPixels = count;
    if (count == 0)
        return QColor();
    return QColor(int(red / count), int(green / count), int(blue / count));
}

double luminance(const QColor& colour)
{
    const auto channel = [](int value) {
        const double c = value / 255.0;
        return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(colour.red()) + 0.7152 * channel(colour.green()) +
           0.0722 * channel(colour.blue());
}

// Contrast ratio between two colours (1 = identical, 21 = black on white).
double contrast(const QColor& a, const QColor& b)
{
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

} // namespace

class TestResources : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void everyNameLoads_data();
    void everyNameLoads();
    void treeHoldsExactlyTheList();
    void iconFilesCarrySeveralSizes_data();
    void iconFilesCarrySeveralSizes();
    void applicationIconOffersSmallAndLargeSizes();
    void glyphsStandOutFromTheirBackground_data();
    void glyphsStandOutFromTheirBackground();
    void loginBackgroundIsARoundedLightCard();
};

void TestResources::initTestCase()
{
    // The pictures live in the static core library; its resources must be registered by hand.
    Q_INIT_RESOURCE(resources);
}

void TestResources::everyNameLoads_data()
{
    // The size of the widget that shows each picture; pictures stretched onto a widget must
    // keep its proportions and be at least as large (scaled down, never up).
    QTest::addColumn<QString>("name");
    QTest::addColumn<QSize>("shownAt");
    QTest::addColumn<bool>("exactSize");
    QTest::newRow("lettering") << "tavio_ziti.png" << QSize(75, 24) << false;
    QTest::newRow("background") << "BG.png" << QSize(380, 332) << true;
    QTest::newRow("logo 384") << "yyzslogo384.png" << QSize(384, 384) << true;
    QTest::newRow("logo 156") << "yyzslogo156.png" << QSize(156, 156) << true;
    QTest::newRow("logo 128") << "yyzslogo128.png" << QSize(128, 128) << true;
    QTest::newRow("minimise") << "ic_zuixiaohua.png" << QSize(20, 20) << false;
    QTest::newRow("close") << "ic_guanbi.png" << QSize(20, 20) << false;
    QTest::newRow("panel minimise") << "ic_zuixiaohua_fx.png" << QSize(20, 20) << false;
    QTest::newRow("panel close") << "ic_guanbi_fx.png" << QSize(20, 20) << false;
    QTest::newRow("panel minimise hover") << "panel_min_hover.png" << QSize(20, 20) << false;
    QTest::newRow("panel close hover") << "panel_close_hover.png" << QSize(20, 20) << false;
    QTest::newRow("drop-down arrow") << "ic_gengduo.png" << QSize(16, 16) << false;
    QTest::newRow("microphone") << "ic_jingyin.png" << QSize(24, 24) << false;
    QTest::newRow("muted microphone") << "ic_jingyinzhong.png" << QSize(24, 24) << false;
    QTest::newRow("icon") << "yyzslogo.ico" << QSize(16, 16) << false;
    QTest::newRow("icon 128") << "yyzslogo128.ico" << QSize(16, 16) << false;
    QTest::newRow("icon 156") << "yyzslogo156.ico" << QSize(16, 16) << false;
    QTest::newRow("icon 384") << "yyzslogo384.ico" << QSize(16, 16) << false;
}

void TestResources::everyNameLoads()
{
    QFETCH(QString, name);
    QFETCH(QSize, shownAt);
    QFETCH(bool, exactSize);

    QVERIFY2(QFile::exists(QStringLiteral(":/") + name), qPrintable(name));
    const QImage image = load(name);
    QVERIFY2(!image.isNull(), qPrintable(name));
    if (exactSize) {
        QCOMPARE(image.size(), shownAt);
    } else {
        QVERIFY(image.width() >= shownAt.width());
        QVERIFY(image.height() >= shownAt.height());
        QCOMPARE(image.width() * shownAt.height(), image.height() * shownAt.width());
    }

    // A drawn picture, not an empty or one-colour placeholder: a real share of visible pixels
    // and some variety in them.
    int inkPixels = 0;
    inkColour(image, &inkPixels);
    QVERIFY2(inkPixels >= image.width() * image.height() / 50, qPrintable(name));
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            colours.insert(image.pixel(x, y));
    }
    QVERIFY2(colours.size() >= 3, qPrintable(name));
}

void TestResources::treeHoldsExactlyTheList()
{
    // Qt keeps its own entries in a subfolder; the root holds our pictures only.
    const QStringList files = QDir(QStringLiteral(":/")).entryList(QDir::Files);
    QCOMPARE(QSet<QString>(files.begin(), files.end()),
             QSet<QString>(kPictureNames.begin(), kPictureNames.end()));
}

void TestResources::iconFilesCarrySeveralSizes_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("largest");
    QTest::newRow("plain") << "yyzslogo.ico" << 256;
    QTest::newRow("128") << "yyzslogo128.ico" << 128;
    QTest::newRow("156") << "yyzslogo156.ico" << 156;
    QTest::newRow("384, capped by the format") << "yyzslogo384.ico" << 256;
}

void TestResources::iconFilesCarrySeveralSizes()
{
    QFETCH(QString, name);
    QFETCH(int, largest);

    QImageReader reader(QStringLiteral(":/") + name);
    QCOMPARE(reader.format(), QByteArray("ico"));
    QVERIFY(reader.imageCount() >= 5);
    QSet<int> sides;
    for (int i = 0; i < reader.imageCount(); ++i) {
        QVERIFY(reader.jumpToImage(i));
        const QImage frame = reader.read();
        QVERIFY2(!frame.isNull(), qPrintable(QStringLiteral("%1 frame %2").arg(name).arg(i)));
        QCOMPARE(frame.width(), frame.height());
        QVERIFY(frame.hasAlphaChannel());
        // Transparent corners: the rounded plate does not reach them.
        QCOMPARE(qAlpha(frame.pixel(0, 0)), 0);
        // The middle is drawn, not left transparent.
        QCOMPARE(qAlpha(frame.pixel(frame.width() / 2, frame.height() / 2)), 255);
        sides.insert(frame.width());
    }
    QVERIFY(sides.contains(16));
    QVERIFY(sides.contains(32));
    QVERIFY(sides.contains(48));
    QCOMPARE(*std::max_element(sides.begin(), sides.end()), largest);
}

void TestResources::applicationIconOffersSmallAndLargeSizes()
{
    // The window icon: the title bar wants 16 pixels, the task switcher far more.
    const QIcon icon(QStringLiteral(":/yyzslogo156.ico"));
    QVERIFY(!icon.isNull());
    const QList<QSize> sizes = icon.availableSizes();
    QVERIFY(sizes.contains(QSize(16, 16)));
    QVERIFY(sizes.contains(QSize(156, 156)));
    QCOMPARE(icon.pixmap(QSize(16, 16)).size(), QSize(16, 16));
}

void TestResources::glyphsStandOutFromTheirBackground_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QColor>("background");
    QTest::addColumn<double>("minContrast");
    const QColor white(255, 255, 255);
    // The login window's title buttons also sit on their hover colours.
    QTest::newRow("minimise on hover") << "ic_zuixiaohua.png" << QColor(85, 162, 228) << 1.5;
    QTest::newRow("close on hover") << "ic_guanbi.png" << QColor(255, 84, 57) << 1.5;
    QTest::newRow("panel minimise") << "ic_zuixiaohua_fx.png" << white << 2.0;
    QTest::newRow("panel close") << "ic_guanbi_fx.png" << white << 2.0;
    QTest::newRow("drop-down arrow") << "ic_gengduo.png" << QColor(245, 247, 250) << 2.5;
    QTest::newRow("microphone on blue") << "ic_jingyin.png" << QColor(0, 114, 255) << 3.0;
    QTest::newRow("muted microphone on orange") << "ic_jingyinzhong.png" << QColor(255, 98, 0) << 2.5;
    QTest::newRow("lettering on the panel") << "tavio_ziti.png" << white << 7.0;
}

void TestResources::glyphsStandOutFromTheirBackground()
{
    QFETCH(QString, name);
    QFETCH(QColor, background);
    QFETCH(double, minContrast);

    const QColor ink = inkColour(load(name));
    QVERIFY2(ink.isValid(), qPrintable(name));
    const double ratio = contrast(ink, background);
    QVERIFY2(ratio >= minContrast, qPrintable(QStringLiteral("%1: %2").arg(name).arg(ratio)));
}

void TestResources::loginBackgroundIsARoundedLightCard()
{
    const QImage bg = load(QStringLiteral("BG.png"));
    QCOMPARE(bg.size(), QSize(380, 332));

    // The window is translucent: the rounded corners must be see-through, the card opaque.
    for (const QPoint& corner : {QPoint(0, 0), QPoint(379, 0), QPoint(0, 331), QPoint(379, 331)})
        QCOMPARE(qAlpha(bg.pixel(corner)), 0);
    for (const QPoint& inside : {QPoint(8, 8), QPoint(190, 166), QPoint(371, 323)})
        QCOMPARE(qAlpha(bg.pixel(inside)), 255);

    // The window's own texts and the title buttons are dark: the card stays light everywhere
    // they are drawn (title buttons, greeting, fields and login button rows).
    const QColor title = inkColour(load(QStringLiteral("ic_guanbi.png")));
    const QColor greeting(100, 101, 102);
    for (const QPoint& spot : {QPoint(330, 22), QPoint(358, 22), QPoint(200, 73), QPoint(40, 136),
                               QPoint(339, 196), QPoint(190, 276)}) {
        const QColor under = QColor::fromRgb(bg.pixel(spot));
        QVERIFY2(contrast(title, under) >= 4.0,
                 qPrintable(QStringLiteral("title at %1,%2").arg(spot.x()).arg(spot.y())));
        QVERIFY2(contrast(greeting, under) >= 4.0,
                 qPrintable(QStringLiteral("text at %1,%2").arg(spot.x()).arg(spot.y())));
    }

    // The gold login button must not melt into a gold background behind it.
    QVERIFY(contrast(QColor(255, 215, 0), QColor::fromRgb(bg.pixel(20, 276))) >= 1.15);
}

QTEST_MAIN(TestResources)
#include "tst_Resources.moc"
