#include "choicebox.h"
#include "form1.h"
#include "frmabout.h"
#include "frmmonitor.h"
#include "configtable.h"
#include "frmoption.h"
#include "vardolistview.h"
#include "guitestmain.h"
#include "module1.h"
#include "outputlayout.h"
#include "vardolistmodel.h"

#include <QComboBox>
#include <QDir>
#include <QRadioButton>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QToolBar>

namespace {

int PictureIndex(const QLabel* picture)
{
    return picture->property("pictureIndex").toInt();
}

QList<int> Pictures(const frmOption* options)
{
    return {PictureIndex(options->Picture3), PictureIndex(options->Picture4), PictureIndex(options->Picture5)};
}

// A choice from a box's list, as a click on the list does it.
void Choose(QComboBox* box, int index)
{
    box->setCurrentIndex(index);
    emit box->activated(index);
}

// Replaces a box's text as a user does: the box takes the focus, Ctrl+A selects its text, and
// the new text is typed key by key.
void Type(QComboBox* box, const QString& text)
{
    box->setFocus();
    QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(box, text);
}

} // namespace

class OptionsTest : public QObject {
    Q_OBJECT

private:
    Form1* form_ = nullptr;
    QString defaultLine_ = "1- MP3 Potable Player  1- CD Quality  1- Stereo";

private slots:
    void initTestCase() { Module1::Test::SetEndProcessHandler([] {}); }

    void init()
    {
        Module1::Test::ReleaseInstanceLock();
        QFile::remove(Module1::ConfigFilePath());
        form_ = new Form1;
        form_->InitForm();
    }

    void cleanup()
    {
        delete form_;
        for (QWidget* window : QApplication::topLevelWidgets())
            if (qobject_cast<SkinnedWindow*>(window))
                window->close();
        QTRY_VERIFY(!Open<SkinnedWindow>());
    }

    void defaultsAndChoicesShowTheirPictures()
    {
        form_->Options->trigger();
        frmOption* options = Open<frmOption>();
        QVERIFY(options);
        QCOMPARE(options->Combo1->currentText(), QStringLiteral("1- MP3 Potable Player"));
        QCOMPARE(options->Combo2->currentText(), QStringLiteral("1- CD Quality"));
        QCOMPARE(options->Combo3->currentText(), QStringLiteral("1- Stereo"));
        QVERIFY(!options->Combo1->isEditable());
        QVERIFY(options->Combo2->isEditable() && options->Combo3->isEditable());
        QCOMPARE(Pictures(options), QList<int>({1, 5, 8}));
        QCOMPARE(options->Picture3->pixmap().toImage(), options->ImageList1[1].toImage());
        QCOMPARE(options->windowTitle(), QStringLiteral("Vardune Options"));
        // The profile's group as it always was, where outputs go below it, even loudness below
        // that, and OK and Cancel at the bottom right, above the frame's bottom edge.
        QVERIFY(options->width() >= 345);
        QCOMPARE(options->height(), 616);
        QCOMPARE(options->Frame1->geometry(), QRect(24, 40, 289, 281));
        const QRect last = options->Frame3->geometry();
        QVERIFY(options->Command1->y() > last.bottom());
        QCOMPARE(options->Command2->y(), options->Command1->y());
        QVERIFY(options->Command1->geometry().right() < options->Command2->x());
        QCOMPARE(options->Command2->geometry().right(), last.right());
        QVERIFY(options->Command1->geometry().bottom() < options->imgWindowBottom->y());
        QCOMPARE(options->Frame2->geometry().right(), last.right());
        // The pattern box shows the whole default pattern: from its start, its last character
        // is in sight.
        const QString pattern = Module1::ToQt(vardune::OutputLayout::kDefaultPattern);
        options->Text1->setText(pattern);
        options->Text1->setCursorPosition(0);
        QCOMPARE(options->Text1->cursorPositionAt({options->Text1->width() - 4, options->Text1->height() / 2}),
                 int(pattern.size()));

        Choose(options->Combo1, 4);
        QCOMPARE(Pictures(options), QList<int>({10, 5, 8}));
        QCOMPARE(options->Combo2->currentText(), QStringLiteral("1- CD Quality"));
        Choose(options->Combo2, 1);
        QCOMPARE(Pictures(options), QList<int>({10, 6, 8}));
        Choose(options->Combo2, 3);
        QCOMPARE(Pictures(options), QList<int>({10, 11, 8}));

        // Typing shows no picture until the next choice from any list.
        Type(options->Combo3, "2- typed mono");
        QCOMPARE(Pictures(options), QList<int>({10, 11, 8}));
        Choose(options->Combo1, 1);
        QCOMPARE(Pictures(options), QList<int>({2, 11, 9}));
        // An entry number no row knows leaves the picture as it was.
        Type(options->Combo2, "7- unknown");
        Choose(options->Combo1, 2);
        QCOMPARE(Pictures(options), QList<int>({3, 11, 9}));

        ClickWidget(options->Command1);
        QTRY_VERIFY(!Open<frmOption>());
        const auto& profile = Module1::settings().profile;
        QCOMPARE(profile.device, std::string("3- WinCE PDA with MP3 Module"));
        QCOMPARE(profile.quality, std::string("7- unknown"));
        QCOMPARE(profile.channel, std::string("2- typed mono"));
        QCOMPARE(form_->StatusPanel->text(), QStringLiteral("3- WinCE PDA with MP3 Module  7- unknown  2- typed mono"));
    }

    void typedTextsStayAsTypedAndTheListsNeverGrow_data()
    {
        QTest::addColumn<QString>("box");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("leaveBy");
        QTest::addColumn<int>("current");  // the entry current afterwards
        QTest::newRow("quality in other letter case") << "Combo2" << "3- tape quality" << int(Qt::Key_Tab) << -1;
        QTest::newRow("stereo in other letter case") << "Combo3" << "1- stereo" << int(Qt::Key_Tab) << -1;
        QTest::newRow("the start of an entry") << "Combo3" << "2" << int(Qt::Key_Tab) << -1;
        QTest::newRow("Enter after a new text") << "Combo3" << "2- mono please" << int(Qt::Key_Return) << -1;
        QTest::newRow("an entry typed exactly") << "Combo3" << "2- Mono" << int(Qt::Key_Tab) << 1;
        QTest::newRow("an entry typed exactly, Enter") << "Combo2" << "4- Telephone Quality" << int(Qt::Key_Return) << 3;
    }

    void typedTextsStayAsTypedAndTheListsNeverGrow()
    {
        QFETCH(QString, box);
        QFETCH(QString, typed);
        QFETCH(int, leaveBy);
        QFETCH(int, current);
        form_->Options->trigger();
        frmOption* options = Open<frmOption>();
        options->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(options));
        auto* combo = options->findChild<QComboBox*>(box);
        const int entries = combo->count();

        Type(combo, typed);
        QCOMPARE(combo->currentText(), typed);
        QTest::keyClick(combo, Qt::Key(leaveBy));
        if (leaveBy == Qt::Key_Tab)
            QVERIFY(!combo->hasFocus());
        QCOMPARE(combo->currentText(), typed);
        QCOMPARE(combo->count(), entries);
        QCOMPARE(combo->currentIndex(), current);
        QCOMPARE(Pictures(options), QList<int>({1, 5, 8}));

        ClickWidget(options->Command1);
        QTRY_VERIFY(!Open<frmOption>());
        const auto& profile = Module1::settings().profile;
        QCOMPARE(Module1::ToQt(box == "Combo2" ? profile.quality : profile.channel), typed);
        Module1::settings().profile = {};
    }

    // Where outputs go: one folder by default; the pattern box takes text for names from tags
    // only; the preview shows the path for the selected entry as the user types, or in red why
    // the pattern cannot serve; OK refuses such a pattern and says why, and takes the choice
    // into the settings once it can serve.
    void whereOutputsGoIsChosenWithAPreview()
    {
        form_->Text1->setText(QDir::tempPath() + "/out/");
        std::vector<std::pair<std::string, std::string>> files {{"/music/Alpha/First/01 Intro.flac", " 5"},
                                                               {"/music/Beta/Live/07 Who.flac", " 5"}};
        form_->ListModel->Append(files, "/music");
        form_->ListView1->setCurrentIndex(form_->ListModel->index(1, 0));
        form_->Options->trigger();
        frmOption* options = Open<frmOption>();
        QVERIFY(options);
        options->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(options));
        QVERIFY(options->Option1->isChecked());
        QVERIFY(!options->Text1->isEnabled());
        QCOMPARE(options->Text1->text(), QStringLiteral("{albumartist}/{album}/{disc-}{track:02} {title}"));
        QCOMPARE(options->Label6->text(), QStringLiteral("V_07 Who.flac.MP3"));

        QTest::mouseClick(options->Option2, Qt::LeftButton, {}, QPoint(8, options->Option2->height() / 2));
        QVERIFY(options->Option2->isChecked());
        QCOMPARE(options->Label6->text(), QStringLiteral("Beta/Live/07 Who.mp3"));

        QTest::mouseClick(options->Option3, Qt::LeftButton, {}, QPoint(8, options->Option3->height() / 2));
        QVERIFY(options->Text1->isEnabled());
        // No tags read (the encoder was not asked): the fallbacks show.
        QCOMPARE(options->Label6->text(), QStringLiteral("Unknown Artist/Unknown Album/07 Who.mp3"));
        options->Text1->setFocus();
        QTest::keyClick(options->Text1, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(options->Text1, "{folder}/{name");
        QVERIFY(options->Label6->styleSheet().contains("192, 0, 0"));
        const QString unclosed = options->Label6->text();
        QVERIFY(!unclosed.isEmpty());
        QTest::keyClicks(options->Text1, "}");
        QCOMPARE(options->Label6->text(), QStringLiteral("Live/07 Who.mp3"));
        QVERIFY(options->Label6->styleSheet().isEmpty());
        QTest::keyClick(options->Text1, Qt::Key_Home);
        QTest::keyClicks(options->Text1, "../");
        QCOMPARE(options->Text1->text(), QStringLiteral("../{folder}/{name}"));
        QVERIFY2(options->Label6->text().contains(".."), qPrintable(options->Label6->text()));

        // OK says why and stays; nothing is taken.
        Module1::Test::SetNextMessageAnswer(QMessageBox::Ok);
        ClickWidget(options->Command1);
        const auto asked = Module1::Test::TakeAskedMessages();
        QCOMPARE(int(asked.size()), 1);
        QVERIFY(asked[0].text.startsWith("The name pattern cannot be used: "));
        QVERIFY(asked[0].text.contains(options->Label6->text()));
        QCOMPARE(Open<frmOption>(), options);
        QCOMPARE(Module1::settings().outputLayout, std::string());

        for (int i = 0; i < 3; ++i)
            QTest::keyClick(options->Text1, Qt::Key_Backspace);
        ClickWidget(options->Command1);
        QTRY_VERIFY(!Open<frmOption>());
        QCOMPARE(Module1::settings().outputLayout, std::string("TAGS"));
        QCOMPARE(Module1::settings().namePattern, std::string("{folder}/{name}"));

        // The next opening shows the stored choice; one folder again keeps the pattern.
        form_->Options->trigger();
        options = Open<frmOption>();
        QVERIFY(options->Option3->isChecked());
        QCOMPARE(options->Text1->text(), QStringLiteral("{folder}/{name}"));
        QTest::mouseClick(options->Option1, Qt::LeftButton, {}, QPoint(8, options->Option1->height() / 2));
        ClickWidget(options->Command1);
        QTRY_VERIFY(!Open<frmOption>());
        QCOMPARE(Module1::settings().outputLayout, std::string("ONEFOLDER"));
        QCOMPARE(Module1::settings().namePattern, std::string("{folder}/{name}"));
        Module1::settings().outputLayout.clear();
        Module1::settings().namePattern.clear();
    }

    // A stored pattern that cannot serve (an old or hand-edited settings file): said once as
    // the window loads, shown as it is in Options with why in red, and kept as long as the
    // user does not mend it.
    void aStoredPatternThatCannotServeIsSaidAndKept()
    {
        delete form_;
        vardune::Settings stored;
        stored.outputLayout = "TAGS";
        stored.namePattern = "{bad}";
        QVERIFY(vardune::WriteConfig(Module1::FromQt(Module1::ConfigFilePath()), stored));
        Module1::Test::ReleaseInstanceLock();
        Module1::Test::TakeAskedMessages();
        Module1::Test::SetNextMessageAnswer(QMessageBox::Ok);
        form_ = new Form1;
        form_->InitForm();
        const auto asked = Module1::Test::TakeAskedMessages();
        QCOMPARE(int(asked.size()), 1);
        QCOMPARE(asked[0].title, QStringLiteral("Name Pattern"));
        QVERIFY2(asked[0].text.startsWith("The name pattern in the settings cannot be used: \"{bad}\" is no field"),
                 qPrintable(asked[0].text));
        QVERIFY(asked[0].text.contains("default pattern \"{albumartist}/{album}/{disc-}{track:02} {title}\""));
        QCOMPARE(Module1::settings().namePattern, std::string("{bad}"));

        form_->Options->trigger();
        frmOption* options = Open<frmOption>();
        QVERIFY(options);
        QVERIFY(options->Option3->isChecked());
        QCOMPARE(options->Text1->text(), QStringLiteral("{bad}"));
        QVERIFY(options->Label6->styleSheet().contains("192, 0, 0"));
        ClickWidget(options->Command2);
        QTRY_VERIFY(!Open<frmOption>());
        QCOMPARE(Module1::settings().namePattern, std::string("{bad}"));
        Module1::settings() = {};
    }

    void cancelAndCloseKeepTheProfileAndRefreshTheLine_data()
    {
        QTest::addColumn<bool>("titleClose");
        QTest::newRow("Cancel") << false;
        QTest::newRow("close image") << true;
    }

    void cancelAndCloseKeepTheProfileAndRefreshTheLine()
    {
        QFETCH(bool, titleClose);
        Module1::settings().profile = {"Walkman", "3- TAPE QUALITY", "1- Stereo", "96"};
        form_->ButtonClick("Options");
        frmOption* options = Open<frmOption>();
        QVERIFY(options);
        // The status bar follows at once, before any change.
        QCOMPARE(form_->StatusPanel->text(), QStringLiteral("Walkman  3- TAPE QUALITY  1- Stereo"));
        QCOMPARE(options->Combo1->currentText(), QStringLiteral("1- MP3 Potable Player"));
        QCOMPARE(options->Combo2->currentText(), QStringLiteral("3- TAPE QUALITY"));
        // A text that is no entry makes no entry current: the drop-down highlights none.
        QCOMPARE(options->Combo2->currentIndex(), -1);
        QCOMPARE(options->Combo3->currentIndex(), 0);
        QCOMPARE(Pictures(options), QList<int>({1, 7, 8}));
        Choose(options->Combo1, 3);
        Choose(options->Combo2, 0);
        Choose(options->Combo3, 1);
        form_->StatusPanel->setText("stale");
        if (titleClose)
            ClickWidget(options->imgTitleClose);
        else
            ClickWidget(options->Command2);
        QTRY_VERIFY(!Open<frmOption>());
        QVERIFY(Module1::settings().profile == vardune::EncodingProfile({"Walkman", "3- TAPE QUALITY", "1- Stereo", "96"}));
        QCOMPARE(form_->StatusPanel->text(), QStringLiteral("Walkman  3- TAPE QUALITY  1- Stereo"));
        QCOMPARE(form_->StatusPanel->toolTip(), form_->StatusPanel->text());
    }

    // Even loudness is off until chosen; OK keeps the choice, Cancel leaves the one before.
    void evenLoudnessIsOffUntilChosen()
    {
        Module1::settings().evenLoudness.clear();
        form_->ButtonClick("Options");
        frmOption* options = Open<frmOption>();
        QVERIFY(options);
        QCOMPARE(options->Combo4->currentText(), QStringLiteral("Off"));
        options->Combo4->setCurrentIndex(2);
        ClickWidget(options->Command1);
        QTRY_VERIFY(!Open<frmOption>());
        QCOMPARE(Module1::settings().evenLoudness, std::string("album"));

        form_->ButtonClick("Options");
        options = Open<frmOption>();
        QVERIFY(options);
        QCOMPARE(options->Combo4->currentText(), QStringLiteral("Per album"));
        options->Combo4->setCurrentIndex(1);
        ClickWidget(options->Command2);
        QTRY_VERIFY(!Open<frmOption>());
        QCOMPARE(Module1::settings().evenLoudness, std::string("album"));
        Module1::settings().evenLoudness.clear();
    }

    void oneDialogAtATimeAndEachOpeningStartsFromTheProfile()
    {
        form_->Options->trigger();
        frmOption* first = Open<frmOption>();
        Choose(first->Combo1, 3);
        form_->Options->trigger();
        QCOMPARE(Open<frmOption>(), first);
        QCOMPARE(first->Combo1->currentIndex(), 3);
        first->close();
        QTRY_VERIFY(!Open<frmOption>());
        form_->Options->trigger();
        QCOMPARE(Open<frmOption>()->Combo1->currentIndex(), 0);
    }

    void aChoiceConfirmedDuringABatchReachesTheNextFile()
    {
        QTemporaryDir dir;
        const QString log = dir.path() + "/arguments", gate = dir.path() + "/gate";
        const QString encoder = QCoreApplication::applicationDirPath() + "/fastencc";
        QFile script(encoder);
        QVERIFY(script.open(QIODevice::WriteOnly));
        // The forecast beside the list asks the encoder too (--facts); only conversions are logged.
        script.write(QString("#!/bin/sh\n[ \"$1\" = --facts ] && exit 0\nprintf '%s|' \"$@\" >> '%1'; echo >> '%1'\n"
                             "case \"$1\" in *1.mp3) while [ ! -e '%2' ]; do sleep 0.02; done ;; esac\nprintf x > \"$2\"\n")
                         .arg(log, gate).toUtf8());
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        std::vector<std::pair<std::string, std::string>> files;
        for (const char* name : {"1.mp3", "2.mp3"}) {
            QFile f(dir.path() + "/" + name);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("abc");
            files.emplace_back(Module1::FromQt(f.fileName()), " 3");
        }
        form_->ListModel->Append(files);
        form_->Text1->setText(dir.path());
        // One file at a time, so the second starts after the choice.
        Module1::settings().jobs = "1";

        form_->Options->trigger();
        frmOption* options = Open<frmOption>();
        form_->StartVardo->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(log), 5000);
        QVERIFY(!form_->isEnabled());
        QVERIFY(options->isEnabled());
        Choose(options->Combo2, 2);
        Choose(options->Combo3, 1);
        ClickWidget(options->Command1);
        QFile(gate).open(QIODevice::WriteOnly);
        QTRY_VERIFY_WITH_TIMEOUT(form_->isEnabled() && !Open<frmMonitor>(), 10000);
        QFile arguments(log);
        QVERIFY(arguments.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(arguments.readAll()).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines[0], dir.path() + "/1.mp3|" + dir.path() + "/V_1.mp3|-br|96000|-threads|1|");
        QCOMPARE(lines[1], dir.path() + "/2.mp3|" + dir.path() + "/V_2.mp3|-dm|-br|32000|-threads|1|");
        QFile::remove(encoder);
    }

    void aboutBoxHoldsTheMainWindowUntilClosed_data()
    {
        QTest::addColumn<QString>("closeBy");
        QTest::newRow("picture") << "Image1";
        QTest::newRow("background") << "background";
        QTest::newRow("close image") << "imgTitleClose";
    }

    void aboutBoxHoldsTheMainWindowUntilClosed()
    {
        QFETCH(QString, closeBy);
        form_->About->trigger();
        frmAbout* about = Open<frmAbout>();
        QVERIFY(about);
        QVERIFY(!form_->isEnabled());
        QVERIFY(about->windowFlags() & Qt::WindowStaysOnTopHint);
        QCOMPARE(about->lblVersion->text(), QStringLiteral("Version 03.00.01"));
        QCOMPARE(about->windowTitle(), QStringLiteral("About Vardune"));
        QCOMPARE(about->Image1->geometry(), QRect(16, 32, 196, 193));

        // Clicks that close nothing: the version text, the frame's edges and its idle buttons.
        for (QWidget* idle : std::initializer_list<QWidget*>{about->lblVersion, about->imgWindowLeft, about->imgWindowBottom,
                                                             about->imgTitleHelp, about->imgTitleMinimize})
            ClickWidget(idle);
        // A click is the left button, on the picture, the background and the close image alike.
        QVERIFY(QTest::qWaitForWindowExposed(about));
        for (QWidget* closer : std::initializer_list<QWidget*>{about->Image1, about, about->imgTitleClose})
            for (Qt::MouseButton other : {Qt::RightButton, Qt::MiddleButton})
                QTest::mouseClick(closer, other, Qt::NoModifier,
                                  closer == about ? QPoint(about->width() / 2, about->height() - 34) : closer->rect().center());
        QVERIFY(about->isVisible());
        QVERIFY(!form_->isEnabled());

        if (closeBy == "background") {
            const QPoint at(about->width() / 2, about->height() - 34);
            QMouseEvent press(QEvent::MouseButtonPress, at, about->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(about, &press);
            QMouseEvent release(QEvent::MouseButtonRelease, at, about->mapToGlobal(at), Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
            QApplication::sendEvent(about, &release);
        } else {
            ClickWidget(about->findChild<QWidget*>(closeBy));
        }
        QTRY_VERIFY(!Open<frmAbout>());
        QVERIFY(form_->isEnabled());
    }
};

VARDUNE_GUI_TEST_MAIN(OptionsTest)
#include "options_test.moc"
