#include "everywindow.h"
#include "guitestmain.h"
#include "module1.h"

#include <QAccessible>
#include <QLabel>
#include <QStringList>

// What a screen reader hears of every window: each control a user can reach has a name (not
// only a description), and the readouts' names carry what they show.

namespace {

QString Name(QWidget* widget)
{
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(widget);
    return face ? face->text(QAccessible::Name).trimmed() : QString();
}

// A control a user reaches with the keys or the pointer.
bool Speaks(QWidget* widget)
{
    return widget->focusPolicy() != Qt::NoFocus;
}

} // namespace

class AccessibleTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { Module1::Test::SetEndProcessHandler([] {}); }

    void everyControlHasAName()
    {
        QStringList nameless;
        for (const EveryWindow::Window& w : EveryWindow::All()) {
            std::unique_ptr<QWidget> window = w.make();
            window->show();
            QVERIFY(QTest::qWaitForWindowExposed(window.get()));
            for (QWidget* control : window->findChildren<QWidget*>()) {
                if (!control->isVisibleTo(window.get()) || !Speaks(control))
                    continue;
                // Parts Qt makes inside a control (a view's viewport, a box's line edit) speak
                // through the control itself.
                if (control->parentWidget() && Speaks(control->parentWidget())
                    && control->objectName().isEmpty())
                    continue;
                if (Name(control).isEmpty())
                    nameless << QStringLiteral("%1: %2 (%3)").arg(QLatin1String(w.name), control->objectName(),
                                                                  QLatin1String(control->metaObject()->className()));
            }
        }
        QVERIFY2(nameless.isEmpty(), qPrintable(QStringLiteral("no name: ") + nameless.join(QStringLiteral("; "))));
    }

    // The readouts say their numbers, as the glyphs show them, after their captions.
    void readoutsSayWhatTheyShow()
    {
        frmMonitor board(nullptr);
        board.show();
        QVERIFY(QTest::qWaitForWindowExposed(&board));
        board.BatchStarted(QStringLiteral("012"));
        board.ShowSource(QStringLiteral("003"), QStringLiteral("/music/a.wav"));
        QVERIFY2(Name(board.PicFile1).contains(QStringLiteral("012")), qPrintable(Name(board.PicFile1)));
        QVERIFY2(Name(board.PicFile2).contains(QStringLiteral("003")), qPrintable(Name(board.PicFile2)));
        QCOMPARE(Name(board.PicFile2), QStringLiteral("Current: 003"));
        frmUpdate update;
        QCOMPARE(Name(update.picVer1), QStringLiteral("Installed Version: ") + QLatin1String(Module1::kVersion));
    }
};

VARDUNE_GUI_TEST_MAIN(AccessibleTest)
#include "accessible_test.moc"
