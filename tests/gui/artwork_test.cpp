// The program's pictures, read from the compiled resources as the windows read them: the skin
// the borderless window is built from, the display's glyph strip, the progress pictures, the
// option pictures of the player kinds and the product art behind the version.

#include "guitestmain.h"
#include "module1.h"

#include <QColor>
#include <QImage>
#include <QSet>

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

const QRgb kTitleBlue = qRgb(21, 98, 175);
const QRgb kFrameGrey = qRgb(207, 207, 207);
const QRgb kOutside = qRgb(255, 0, 255);
const QRgb kBlack = qRgb(0, 0, 0);
const QRgb kCyan = qRgb(0, 255, 255);
const QRgb kUnlitDark = qRgb(18, 34, 38);
const QRgb kUnlitLight = qRgb(26, 48, 52);

constexpr int kCellWidth = 14;
constexpr int kCellHeight = 20;

QImage Load(const QString& path)
{
    QImage image(path);
    if (image.isNull())
        qWarning("cannot load %s", qPrintable(path));
    return image;
}

QString Skin(const char* name)
{
    return QStringLiteral(":/skin/%1.png").arg(QLatin1String(name));
}

QString Progress(int n)
{
    return QStringLiteral(":/progress/progress%1.jpg").arg(n, 2, 10, QLatin1Char('0'));
}

QString Option(int n)
{
    return QStringLiteral(":/options/option%1.png").arg(n, 2, 10, QLatin1Char('0'));
}

bool Contains(const QImage& image, QRgb colour)
{
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) == colour)
                return true;
    return false;
}

QImage Cell(const QImage& strip, int cell)
{
    return strip.copy(cell * kCellWidth, 0, kCellWidth, kCellHeight);
}

// The pixels of a cell that are not background, as a set of (x, y) keys.
QSet<int> Mask(const QImage& cell, bool litOnly)
{
    QSet<int> mask;
    for (int y = 0; y < cell.height(); ++y)
        for (int x = 0; x < cell.width(); ++x) {
            const QRgb c = cell.pixel(x, y);
            if (litOnly ? c == kCyan : c != kBlack)
                mask.insert(y * kCellWidth + x);
        }
    return mask;
}

// Mean hue, in degrees, of the clearly coloured pixels; -1 when there are none.
double MeanHue(const QImage& image, double* spread)
{
    double sx = 0, sy = 0;
    QList<double> hues;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.hsvSaturation() < 60 || c.value() < 60)
                continue;
            const double h = c.hsvHueF() * 2 * M_PI;
            sx += std::cos(h);
            sy += std::sin(h);
            hues << c.hsvHueF() * 360;
        }
    if (hues.isEmpty())
        return -1;
    double mean = std::atan2(sy, sx) * 180 / M_PI;
    if (mean < 0)
        mean += 360;
    int far = 0;
    for (double h : hues) {
        const double d = std::fabs(std::remainder(h - mean, 360.0));
        if (d > 25)
            ++far;
    }
    *spread = double(far) / hues.size();
    return mean;
}

} // namespace

class ArtworkTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { Module1::LoadResources(); }

    void picturesHaveTheirSizes_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QSize>("size");
        for (const char* name : {"imgTitleLeft", "imgTitleMain", "imgTitleRight", "imgWindowLeft",
                                 "imgWindowRight", "imgWindowBottomLeft", "imgWindowBottom",
                                 "imgWindowBottomRight"})
            QTest::newRow(name) << Skin(name) << QSize(19, 30);
        for (const char* name : {"imgTitleMinimize", "imgTitleClose", "imgTitleHelp"})
            QTest::newRow(name) << Skin(name) << QSize(13, 13);
        QTest::newRow("glyphstrip") << QStringLiteral(":/glyphs/glyphstrip.png") << QSize(252, 20);
        for (int n = 1; n <= 10; ++n)
            QTest::newRow(qPrintable(Progress(n))) << Progress(n) << QSize(300, 50);
        QTest::newRow("background") << QStringLiteral(":/progress/background.jpg") << QSize(300, 50);
        for (int n = 1; n <= 11; ++n)
            QTest::newRow(qPrintable(Option(n))) << Option(n) << QSize(90, 90);
        QTest::newRow("product") << QStringLiteral(":/pictures/product.png") << QSize(196, 193);
        QTest::newRow("splash") << QStringLiteral(":/pictures/splash.png") << QSize(192, 190);
    }

    void picturesHaveTheirSizes()
    {
        QFETCH(QString, path);
        QFETCH(QSize, size);
        QCOMPARE(Load(path).size(), size);
    }

    // The window stretches these pieces; any change along the stretch would smear.
    void stretchedPiecesAreUniformAlongTheStretch_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("horizontal");
        QTest::addColumn<QRgb>("flat");
        QTest::newRow("title") << Skin("imgTitleMain") << true << kTitleBlue;
        QTest::newRow("bottom") << Skin("imgWindowBottom") << true << kFrameGrey;
        QTest::newRow("left") << Skin("imgWindowLeft") << false << kFrameGrey;
        QTest::newRow("right") << Skin("imgWindowRight") << false << kFrameGrey;
    }

    void stretchedPiecesAreUniformAlongTheStretch()
    {
        QFETCH(QString, path);
        QFETCH(bool, horizontal);
        QFETCH(QRgb, flat);
        const QImage image = Load(path).convertToFormat(QImage::Format_RGB32);
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                const QPoint first = horizontal ? QPoint(0, y) : QPoint(x, 0);
                if (image.pixel(x, y) != image.pixel(first))
                    QFAIL(qPrintable(QStringLiteral("pixel %1,%2 differs along the stretch").arg(x).arg(y)));
            }
        QVERIFY2(Contains(image, flat), "the flat colour is missing");
        QVERIFY2(!Contains(image, kOutside), "an edge piece has cut-away pixels");
    }

    // The window region is a rounded rectangle of radius 12; the corner pieces mark what it
    // cuts away in magenta and nothing else.
    void cornersMatchTheWindowRounding_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QPoint>("corner"); // the outer corner pixel
        QTest::addColumn<QPoint>("inward"); // one step towards the window's inside
        QTest::newRow("title left") << Skin("imgTitleLeft") << QPoint(0, 0) << QPoint(1, 1);
        QTest::newRow("title right") << Skin("imgTitleRight") << QPoint(18, 0) << QPoint(-1, 1);
        QTest::newRow("bottom left") << Skin("imgWindowBottomLeft") << QPoint(0, 29) << QPoint(1, -1);
        QTest::newRow("bottom right") << Skin("imgWindowBottomRight") << QPoint(18, 29) << QPoint(-1, -1);
    }

    void cornersMatchTheWindowRounding()
    {
        QFETCH(QString, path);
        QFETCH(QPoint, corner);
        QFETCH(QPoint, inward);
        const QImage image = Load(path).convertToFormat(QImage::Format_RGB32);
        const auto at = [&](int dx, int dy) {
            return image.pixel(corner + QPoint(inward.x() * dx, inward.y() * dy));
        };
        QCOMPARE(at(0, 0), kOutside);
        // Along the diagonal a radius-12 arc lies 3.5 pixels in: the third pixel is cut, the
        // fifth is not.
        QCOMPARE(at(2, 2), kOutside);
        QVERIFY(at(4, 4) != kOutside);
        // Straight edges start at the arc's ends, 12 pixels from the corner.
        QVERIFY(at(0, 12) != kOutside);
        QVERIFY(at(12, 0) != kOutside);
        // Nothing is cut beyond the rounding, in particular not on the inner side, and the
        // cut area is what a radius of 12 leaves outside its quarter circle: 144 - 113 = 31
        // pixels (a radius of 11 leaves 26, one of 13 leaves 36).
        int cut = 0;
        for (int dy = 0; dy < image.height(); ++dy)
            for (int dx = 0; dx < image.width(); ++dx) {
                if (at(dx, dy) != kOutside)
                    continue;
                QVERIFY2(dx < 12 && dy < 12, qPrintable(QStringLiteral("%1,%2").arg(dx).arg(dy)));
                ++cut;
            }
        QVERIFY2(cut >= 28 && cut <= 34, qPrintable(QString::number(cut)));
        const QRgb flat = path.contains(QLatin1String("Title")) ? kTitleBlue : kFrameGrey;
        QVERIFY2(Contains(image, flat), "the flat colour is missing");
    }

    void titleButtonsSitOnTheTitleBlue_data()
    {
        QTest::addColumn<QString>("path");
        for (const char* name : {"imgTitleMinimize", "imgTitleClose", "imgTitleHelp"})
            QTest::newRow(name) << Skin(name);
    }

    void titleButtonsSitOnTheTitleBlue()
    {
        QFETCH(QString, path);
        const QImage image = Load(path).convertToFormat(QImage::Format_RGB32);
        for (const QPoint corner : {QPoint(0, 0), QPoint(12, 0), QPoint(0, 12), QPoint(12, 12)})
            QCOMPARE(image.pixel(corner), kTitleBlue);
        QVERIFY2(Contains(image, kBlack), "the button's black sign is missing");
        QVERIFY(!Contains(image, kOutside));
    }

    void glyphStripIsIndexedInItsFourColours()
    {
        const QImage strip = Load(QStringLiteral(":/glyphs/glyphstrip.png"));
        QCOMPARE(strip.format(), QImage::Format_Indexed8);
        const QSet<QRgb> allowed{kBlack, kCyan, kUnlitDark, kUnlitLight};
        for (int y = 0; y < strip.height(); ++y)
            for (int x = 0; x < strip.width(); ++x)
                if (!allowed.contains(strip.pixel(x, y)))
                    QFAIL(qPrintable(QStringLiteral("cell %1 pixel %2,%3 has a foreign colour")
                                         .arg(x / kCellWidth).arg(x % kCellWidth).arg(y)));
    }

    // Unlit segments are a faint trace on the black readout, as on a real display: far darker
    // than a lit one, so "007" does not read as "888", yet not black.
    void unlitSegmentsAreAFaintTrace()
    {
        const auto luma = [](QRgb c) { return 0.299 * qRed(c) + 0.587 * qGreen(c) + 0.114 * qBlue(c); };
        for (QRgb unlit : {kUnlitDark, kUnlitLight}) {
            QVERIFY(luma(unlit) > luma(kBlack) + 10);
            QVERIFY(luma(unlit) * 4 < luma(kCyan));
        }
    }

    void glyphCellsAreLitWhereTheyShouldBe_data()
    {
        QTest::addColumn<int>("cell");
        QTest::addColumn<bool>("lit");
        QTest::addColumn<bool>("unlit");
        for (int digit = 0; digit <= 9; ++digit)
            QTest::addRow("digit %d", digit) << digit << true << (digit != 8);
        QTest::newRow("blank figure") << 10 << false << true;
        QTest::newRow("colon") << 11 << true << false;
        QTest::newRow("dark colon") << 12 << false << true;
        QTest::newRow("dash alone") << 13 << true << false;
        QTest::newRow("nothing") << 14 << false << false;
        QTest::newRow("dash in a figure") << 15 << true << true;
        QTest::newRow("point") << 16 << true << false;
        QTest::newRow("dark point") << 17 << false << true;
    }

    void glyphCellsAreLitWhereTheyShouldBe()
    {
        QFETCH(int, cell);
        QFETCH(bool, lit);
        QFETCH(bool, unlit);
        const QImage image = Cell(Load(QStringLiteral(":/glyphs/glyphstrip.png")), cell);
        QCOMPARE(Contains(image, kCyan), lit);
        QCOMPARE(Contains(image, kUnlitDark) || Contains(image, kUnlitLight), unlit);
    }

    // Every figure cell shows one and the same seven-segment shape, only lit differently;
    // the dark forms of the colon and point match their lit forms.
    void litAndDarkFormsShareTheirShape()
    {
        const QImage strip = Load(QStringLiteral(":/glyphs/glyphstrip.png"));
        const QSet<int> figure = Mask(Cell(strip, 8), false);
        QVERIFY(figure.size() > 60);
        for (int cell : {0, 1, 2, 3, 4, 5, 6, 7, 9, 10, 15})
            QVERIFY2(Mask(Cell(strip, cell), false) == figure, qPrintable(QString::number(cell)));
        QCOMPARE(Mask(Cell(strip, 8), true), figure);
        QCOMPARE(Mask(Cell(strip, 12), false), Mask(Cell(strip, 11), true));
        QCOMPARE(Mask(Cell(strip, 17), false), Mask(Cell(strip, 16), true));
        QCOMPARE(Mask(Cell(strip, 13), false), Mask(Cell(strip, 15), true));
        // Ten different digits.
        QSet<QSet<int>> digits;
        for (int digit = 0; digit <= 9; ++digit)
            digits.insert(Mask(Cell(strip, digit), true));
        QCOMPARE(digits.size(), 10);
    }

    void pointIsOnePixelWideAtTheBottom()
    {
        const QImage point = Cell(Load(QStringLiteral(":/glyphs/glyphstrip.png")), 16);
        const QSet<int> lit = Mask(point, false);
        QCOMPARE(lit.size(), 2);
        const int x = *lit.begin() % kCellWidth;
        QVERIFY(lit.contains(18 * kCellWidth + x));
        QVERIFY(lit.contains(19 * kCellWidth + x));
    }

    // Each progress picture is toned in a hue of its own; the background stays nearly grey.
    void progressPicturesEachHaveTheirHue()
    {
        QList<double> hues;
        for (int n = 1; n <= 10; ++n) {
            double spread = 1;
            const double hue = MeanHue(Load(Progress(n)), &spread);
            QVERIFY2(hue >= 0, qPrintable(Progress(n) + QStringLiteral(" has no colour")));
            QVERIFY2(spread < 0.1, qPrintable(Progress(n) + QStringLiteral(" is toned in more than one hue")));
            for (double other : hues)
                QVERIFY2(std::fabs(std::remainder(hue - other, 360.0)) > 8,
                         qPrintable(Progress(n) + QStringLiteral(" repeats a hue")));
            hues << hue;
        }
        double spread = 0;
        QCOMPARE(MeanHue(Load(QStringLiteral(":/progress/background.jpg")), &spread), -1.0);
    }

    // The option list shows each device on the white of the dialog: the whole frame is white,
    // so nothing is cut off at an edge and no shadow stops short in a visible line, and a drawn
    // device covers a fair part of the picture without filling it like a block.
    void optionPicturesShowADeviceOnWhite_data()
    {
        QTest::addColumn<QString>("path");
        for (int n = 1; n <= 11; ++n)
            QTest::newRow(qPrintable(Option(n))) << Option(n);
    }

    void optionPicturesShowADeviceOnWhite()
    {
        QFETCH(QString, path);
        const QImage image = Load(path).convertToFormat(QImage::Format_RGB32);
        QVERIFY(!image.isNull());
        const QRgb white = qRgb(255, 255, 255);
        int drawn = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                const QRgb c = image.pixel(x, y);
                const bool edge = x == 0 || y == 0 || x == image.width() - 1 || y == image.height() - 1;
                if (edge && c != white)
                    QFAIL(qPrintable(QStringLiteral("edge pixel %1,%2 is not white").arg(x).arg(y)));
                if (qGray(c) < 230)
                    ++drawn;
            }
        const double share = double(drawn) / (image.width() * image.height());
        QVERIFY2(share > 0.15 && share < 0.8, qPrintable(QString::number(share)));
    }

    // Each option shows its own device: any two pictures differ over a good part of their area,
    // so a copied or a blank picture stands out.
    void optionPicturesAreAllDifferent()
    {
        QList<QImage> pictures;
        for (int n = 1; n <= 11; ++n)
            pictures << Load(Option(n)).convertToFormat(QImage::Format_RGB32);
        for (int a = 0; a < pictures.size(); ++a)
            for (int b = a + 1; b < pictures.size(); ++b) {
                QCOMPARE(pictures[a].size(), pictures[b].size());
                int differ = 0;
                for (int y = 0; y < pictures[a].height(); ++y)
                    for (int x = 0; x < pictures[a].width(); ++x)
                        if (std::abs(qGray(pictures[a].pixel(x, y)) - qGray(pictures[b].pixel(x, y))) > 24)
                            ++differ;
                QVERIFY2(differ > pictures[a].width() * pictures[a].height() / 10,
                         qPrintable(Option(a + 1) + QStringLiteral(" looks like ") + Option(b + 1)));
            }
    }

    // The windows write the version in white bold across these pictures: a 12 pt line about 70
    // to 85 pixels down the product picture, a 14 pt line from 104 down on the splash. That band
    // must stay dark, with nothing light in it for the white letters to get lost on, while the
    // rest of the picture carries the art.
    void productArtKeepsTheVersionBandDark_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("top");
        QTest::addColumn<int>("bottom");
        QTest::newRow("product") << QStringLiteral(":/pictures/product.png") << 68 << 90;
        QTest::newRow("splash") << QStringLiteral(":/pictures/splash.png") << 104 << 128;
    }

    void productArtKeepsTheVersionBandDark()
    {
        QFETCH(QString, path);
        QFETCH(int, top);
        QFETCH(int, bottom);
        const QImage image = Load(path).convertToFormat(QImage::Format_RGB32);
        QVERIFY(!image.isNull());
        double sum = 0;
        int brightest = 0;
        QSet<QRgb> colours;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                const QRgb c = image.pixel(x, y);
                if (y < top || y >= bottom) {
                    colours.insert(c);
                    continue;
                }
                const int grey = qGray(c);
                sum += grey;
                brightest = std::max(brightest, grey);
            }
        const double mean = sum / ((bottom - top) * image.width());
        QVERIFY2(mean < 80, qPrintable(QStringLiteral("mean %1").arg(mean)));
        QVERIFY2(brightest < 150, qPrintable(QStringLiteral("brightest %1").arg(brightest)));
        QVERIFY2(colours.size() > 500, "the art around the band is missing");
    }
};

VARDUNE_GUI_TEST_MAIN(ArtworkTest)
#include "artwork_test.moc"
