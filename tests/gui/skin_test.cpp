#include "digitaldisplay.h"
#include "frmmonitor.h"
#include "frmoption.h"
#include "frmupdate.h"
#include "guitestmain.h"
#include "module1.h"
#include "progresspicture.h"
#include "skinnedwindow.h"

#include <QLabel>
#include <QMouseEvent>

namespace {

QImage Cell(const QPixmap& strip, int k)
{
    return strip.copy(k * 14, 0, 14, 20).toImage().convertToFormat(QImage::Format_RGB32);
}

QImage Shown(const QLabel* display, int i)
{
    return display->pixmap().copy(i * 14, 0, 14, 20).toImage().convertToFormat(QImage::Format_RGB32);
}


} // namespace

class SkinTest : public QObject {
    Q_OBJECT

private slots:
    void framePiecesOfA345By352Window()
    {
        SkinnedWindow window(QStringLiteral("Vardune Options"), 345, 352);
        window.SetFormSkin();
        const struct {
            QLabel* piece;
            QRect at;
        } cases[] = {
            {window.imgTitleLeft, {0, 0, 19, 30}},          {window.imgTitleRight, {326, 0, 19, 30}},
            {window.imgTitleMain, {19, 0, 307, 30}},        {window.imgWindowLeft, {0, 30, 19, 292}},
            {window.imgWindowRight, {326, 30, 19, 292}},    {window.imgWindowBottomLeft, {0, 322, 19, 30}},
            {window.imgWindowBottom, {19, 322, 307, 30}},   {window.imgWindowBottomRight, {326, 322, 19, 30}},
            {window.imgTitleClose, {323, 8, 13, 13}},       {window.imgTitleMinimize, {306, 8, 13, 13}},
            {window.imgTitleHelp, {289, 8, 13, 13}},
        };
        for (const auto& c : cases)
            QCOMPARE(c.piece->geometry(), c.at);
        QCOMPARE(window.lblTitle->pos(), QPoint(16, 7));
        QCOMPARE(window.windowTitle(), QStringLiteral("Vardune Options"));
        QCOMPARE(window.palette().color(QPalette::Window), QColor(207, 207, 207));
        // The outline: the full rectangle but for the rounded corners.
        const QRegion mask = window.mask();
        QCOMPARE(mask.boundingRect(), QRect(0, 0, 345, 352));
        QVERIFY(!mask.contains(QPoint(0, 0)));
        QVERIFY(!mask.contains(QPoint(344, 351)));
        QVERIFY(mask.contains(QPoint(12, 1)));
        QVERIFY(mask.contains(QPoint(172, 176)));
    }

    void captionsShowTheirWholeTextInTheirPlaces()
    {
        frmMonitor board(nullptr);
        frmOption options(nullptr, {});
        frmUpdate update;
        const struct {
            QLabel* caption;
            QRect at;
            int room;  // up to what is drawn beside it
        } cases[] = {
            {board.Label3, {16, 32, 261, 17}, 261},
            {board.Label4, {16, 104, 297, 17}, 297},
            {board.Label5, {16, 232, 81, 17}, board.PicFile2->x() - 16},
            {board.Label6, {136, 232, 57, 17}, board.PicFile1->x() - 136},
            {options.Label2, options.Label2->geometry(), options.Label2->width()},
            {options.Label3, options.Label3->geometry(), options.Label3->width()},
            {options.Label4, options.Label4->geometry(), options.Label4->width()},
            {options.Label7, options.Label7->geometry(), options.Label7->width()},
            {update.Label2, update.Label2->geometry(), update.Label2->width()},
            {update.Label3, update.Label3->geometry(), update.Label3->width()},
        };
        for (const auto& c : cases) {
            QCOMPARE(c.caption->geometry(), c.at);
            const int width = QFontMetrics(c.caption->font()).horizontalAdvance(c.caption->text());
            QVERIFY2(width <= c.room, qPrintable(QStringLiteral("%1 is %2 pixels wide in %3").arg(c.caption->text()).arg(width).arg(c.room)));
            QVERIFY(c.caption->font().bold());
        }
        QCOMPARE(board.Label5->text(), QStringLiteral("Current:"));
        update.close();
    }

    void titleButtons()
    {
        SkinnedWindow window(QStringLiteral("About Vardune"), 200, 150);
        window.SetFormSkin();
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        ClickWidget(window.imgTitleHelp);
        ClickWidget(window.imgTitleMinimize);
        QVERIFY(window.isVisible());
        QVERIFY(!window.isMinimized());
        ClickWidget(window.imgTitleClose);
        QVERIFY(!window.isVisible());
        window.SetFormTopMost(-1);
        QVERIFY(window.windowFlags() & Qt::WindowStaysOnTopHint);
        window.SetFormTopMost(1);
        QVERIFY(!(window.windowFlags() & Qt::WindowStaysOnTopHint));
    }

    void readoutsDrawOneCellPerCharacter()
    {
        Module1::LoadResources();
        QLabel source;
        source.setPixmap(QPixmap(":/glyphs/glyphstrip.png"));
        source.resize(252, 20);
        const QPixmap strip = source.pixmap();
        QVERIFY(!strip.isNull());
        QLabel display;
        QPalette palette = display.palette();
        palette.setColor(QPalette::Window, Qt::black);
        display.setPalette(palette);

        const struct {
            QString text;
            QList<int> cells;  // -1: blank
        } cases[] = {
            {"000", {0, 0, 0}},
            {"03.00.01", {0, 3, 15, 0, 0, 15, 0, 1}},
            {"........", {15, 15, 15, 15, 15, 15, 15, 15}},
            {"1a2", {1, -1, 2}},
            {"9:-' ,;", {9, 11, 13, 14, 10, 16, 12}},
            {"/+Ä", {-1, -1, -1}},
        };
        QImage blank(14, 20, QImage::Format_RGB32);
        blank.fill(Qt::black);
        for (const auto& c : cases) {
            DisplayDigital(&display, c.text, &source);
            QCOMPARE(display.size(), QSize(14 * int(c.cells.size()), 20));
            for (int i = 0; i < c.cells.size(); ++i)
                QCOMPARE(Shown(&display, i), c.cells[i] < 0 ? blank : Cell(strip, c.cells[i]));
        }
        // A longer text, then a shorter one: the readout shrinks.
        DisplayDigital(&display, "12345678", &source);
        DisplayDigital(&display, "7", &source);
        QCOMPARE(display.size(), QSize(14, 20));
        QCOMPARE(display.pixmap().width(), 14);
    }

    void progressPictureSteps()
    {
        QWidget window;
        QLabel background(&window), sliding(&window);
        background.setGeometry(16, 176, 304, 54);
        sliding.setGeometry(16, 176, 16, 54);
        QVector<QPixmap> images;
        for (int i = 0; i < 10; ++i) {
            QPixmap picture(300, 50);
            picture.fill(QColor(i * 20, 0, 0));
            images << picture;
        }
        sliding.setPixmap(images[2]);
        QList<float> picks = {0.05f, 0.95f};
        Module1::Test::SetRandom([&] { return picks.takeFirst(); });

        QCOMPARE(SetProgressPic(&background, &sliding, images, 101, true), qint16(-1));
        QCOMPARE(SetProgressPic(&background, &sliding, images, -5, true), qint16(-1));
        QCOMPARE(sliding.width(), 16);

        QCOMPARE(SetProgressPic(&background, &sliding, images, 0, true), qint16(0));
        QCOMPARE(sliding.geometry(), QRect(16, 176, 1, 54));
        QCOMPARE(background.pixmap().toImage(), images[2].toImage());
        QCOMPARE(sliding.pixmap().toImage(), images[0].toImage());
        // Two new cycles in a row: the first pick becomes the background at once.
        QCOMPARE(SetProgressPic(&background, &sliding, images, 0, true), qint16(0));
        QCOMPARE(background.pixmap().toImage(), images[0].toImage());
        QCOMPARE(sliding.pixmap().toImage(), images[9].toImage());

        const struct {
            qint16 value;
            int width;
        } steps[] = {{5, 15}, {33, 100}, {100, 304}};
        for (const auto& s : steps) {
            QCOMPARE(SetProgressPic(&background, &sliding, images, s.value, true), qint16(0));
            QCOMPARE(sliding.width(), s.width);
        }
        QCOMPARE(sliding.geometry(), background.geometry());
        Module1::Test::SetRandom({});
    }
};

VARDUNE_GUI_TEST_MAIN(SkinTest)
#include "skin_test.moc"
