#include "everywindow.h"
#include "guitestmain.h"
#include "module1.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QLabel>
#include <QPalette>
#include <QRadioButton>
#include <QStyle>
#include <QStyleFactory>
#include <QStyleOptionButton>

#include <map>

// Every window on a light and on a dark desktop theme, as the user sees it: each text of a
// label, a radio button or a check box, read off the window's own pixels, stands out clearly
// from the ground behind it. With VARDUNE_SCREENSHOTS set to a folder, the windows are saved
// there to be looked at.

namespace {

QPalette DarkPalette()
{
    QPalette dark;
    const QColor window(45, 45, 48), base(30, 30, 30), text(230, 230, 230), greyed(120, 120, 120);
    for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        const bool disabled = group == QPalette::Disabled;
        dark.setColor(group, QPalette::Window, window);
        dark.setColor(group, QPalette::Button, window);
        dark.setColor(group, QPalette::Base, base);
        dark.setColor(group, QPalette::AlternateBase, window);
        dark.setColor(group, QPalette::WindowText, disabled ? greyed : text);
        dark.setColor(group, QPalette::Text, disabled ? greyed : text);
        dark.setColor(group, QPalette::ButtonText, disabled ? greyed : text);
        dark.setColor(group, QPalette::ToolTipBase, base);
        dark.setColor(group, QPalette::ToolTipText, text);
        dark.setColor(group, QPalette::Light, window.lighter(150));
        dark.setColor(group, QPalette::Mid, window.lighter(120));
        dark.setColor(group, QPalette::Dark, Qt::black);
        dark.setColor(group, QPalette::Highlight, QColor(42, 130, 218));
        dark.setColor(group, QPalette::HighlightedText, Qt::white);
    }
    return dark;
}

int Luma(QRgb pixel)
{
    return (qRed(pixel) * 299 + qGreen(pixel) * 587 + qBlue(pixel) * 114) / 1000;
}

// The ground of an area (its most common colour) and how far its text's strongest pixel
// stands from it, in luma steps of 255.
int TextContrast(const QImage& image, const QRect& area)
{
    std::map<QRgb, int> counts;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            ++counts[image.pixel(x, y) | 0xff000000u];
    QRgb ground = 0;
    int most = 0;
    for (const auto& [colour, count] : counts)
        if (count > most)
            most = count, ground = colour;
    int strongest = 0;
    for (const auto& [colour, count] : counts)
        strongest = std::max(strongest, std::abs(Luma(colour) - Luma(ground)));
    return strongest;
}

// Where a control's text is drawn, in its window's coordinates.
QRect TextArea(QWidget* control, QWidget* window)
{
    QRect area = control->contentsRect();
    if (auto* button = qobject_cast<QAbstractButton*>(control)) {
        QStyleOptionButton option;
        option.initFrom(button);
        option.text = button->text();
        const bool radio = qobject_cast<QRadioButton*>(control) != nullptr;
        area = control->style()->subElementRect(radio ? QStyle::SE_RadioButtonContents : QStyle::SE_CheckBoxContents,
                                                &option, control);
    }
    return QRect(control->mapTo(window, area.topLeft()), area.size());
}

} // namespace

class ThemeTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        Module1::Test::SetEndProcessHandler([] {});
        QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    }

    void everyTextStandsOutFromItsGround_data()
    {
        QTest::addColumn<bool>("dark");
        QTest::newRow("light theme") << false;
        QTest::newRow("dark theme") << true;
    }
    void everyTextStandsOutFromItsGround()
    {
        QFETCH(bool, dark);
        const QPalette before = QApplication::palette();
        QApplication::setPalette(dark ? DarkPalette() : QApplication::style()->standardPalette());
        const std::vector<EveryWindow::Window> windows = EveryWindow::All();
        const QString shots = qEnvironmentVariable("VARDUNE_SCREENSHOTS");
        for (const EveryWindow::Window& w : windows) {
            std::unique_ptr<QWidget> window = w.make();
            window->show();
            QVERIFY(QTest::qWaitForWindowExposed(window.get()));
            const QImage image = window->grab().toImage().convertToFormat(QImage::Format_RGB32);
            if (!shots.isEmpty())
                image.save(QStringLiteral("%1/%2-%3.png").arg(shots, QLatin1String(w.name), dark ? "dark" : "light"));
            int checked = 0;
            for (QWidget* control : window->findChildren<QWidget*>()) {
                const auto* label = qobject_cast<QLabel*>(control);
                const auto* button = qobject_cast<QAbstractButton*>(control);
                const bool text = (label && !label->text().trimmed().isEmpty())
                                  || ((qobject_cast<QRadioButton*>(control) || qobject_cast<QCheckBox*>(control))
                                      && !button->text().isEmpty());
                if (!text || !control->isVisibleTo(window.get()))
                    continue;
                const QRect area = TextArea(control, window.get()).intersected(image.rect());
                if (area.width() < 4 || area.height() < 4)
                    continue;
                ++checked;
                const int contrast = TextContrast(image, area);
                QVERIFY2(contrast >= 100, qPrintable(QStringLiteral("%1: %2 \"%3\" stands %4 from its ground")
                                                         .arg(QLatin1String(w.name), control->objectName(),
                                                              label ? label->text() : button->text())
                                                         .arg(contrast)));
            }
            QVERIFY2(checked > 0, w.name);
        }
        QApplication::setPalette(before);
    }
};

VARDUNE_GUI_TEST_MAIN(ThemeTest)
#include "theme_test.moc"
