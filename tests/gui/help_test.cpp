#include "guitestmain.h"

#include "chmbrowser.h"
#include "form1.h"
#include "helpwindow.h"

#include <QAction>
#include <QDesktopServices>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QTabBar>
#include <QTabWidget>
#include <QTreeWidget>
#include <QPointer>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>
#include <QTextFragment>
#include <QToolBar>

namespace {

const QString kManual = QStringLiteral(VARDUNE_MANUAL);
const QString kGuide = QStringLiteral("HTML/vardune_user_guide.htm");

// The text of the page's first top-level heading.
QString Heading(const QTextBrowser* browser)
{
    for (QTextBlock block = browser->document()->begin(); block.isValid(); block = block.next())
        if (block.blockFormat().headingLevel() == 1)
            return block.text().remove(QChar::ObjectReplacementCharacter).trimmed();
    return {};
}

// The picture names of the page shown, in document order.
QStringList Pictures(const QTextDocument* document)
{
    QStringList names;
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next())
        for (auto it = block.begin(); !it.atEnd(); ++it)
            if (it.fragment().charFormat().isImageFormat())
                names << it.fragment().charFormat().toImageFormat().name();
    return names;
}

QImage PictureOf(QTextDocument* document, const QString& name)
{
    const QVariant resource = document->resource(QTextDocument::ImageResource, QUrl(name));
    if (resource.userType() == QMetaType::QPixmap)
        return resource.value<QPixmap>().toImage();
    return resource.value<QImage>();
}

// Clicks the first link of the page shown that points at href, with the mouse, as a user
// would; false when the page has no such link.
bool ClickLink(QTextBrowser* browser, const QString& href)
{
    for (QTextBlock block = browser->document()->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (fragment.charFormat().anchorHref() != href)
                continue;
            QTextCursor cursor(browser->document());
            cursor.setPosition(fragment.position() + fragment.length() / 2);
            browser->setTextCursor(cursor);
            browser->ensureCursorVisible();
            const QPoint at = browser->cursorRect(cursor).center() + QPoint(1, 0);
            QTest::mouseClick(browser->viewport(), Qt::LeftButton, Qt::NoModifier, at);
            return true;
        }
    }
    return false;
}

// Stands in for the desktop's web browser.
class WebBrowserStandIn : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void Open(const QUrl& url) { opened << url; }
};

} // namespace

class HelpTest : public QObject
{
    Q_OBJECT
private slots:
    void belongsToItsOwnerAndNeverBlocks();
    void staysUsableWhileTheMainWindowWaits();
    void linksReachEveryPageAndBack_data();
    void linksReachEveryPageAndBack();
    void backForwardAndHome();
    void addressesResolveInsideTheManual_data();
    void addressesResolveInsideTheManual();
    void topicSpellings_data();
    void topicSpellings();
    void manualThatCannotBeReadIsExplained_data();
    void manualThatCannotBeReadIsExplained();
    void webLinksOpenInTheDefaultBrowser();
    void contentsFromTheManualsOwnTable();
    void searchOverThePages();
    void escapeClosesIt();

private:
    QTemporaryDir scratch_;
};

void HelpTest::belongsToItsOwnerAndNeverBlocks()
{
    auto* owner = new QWidget;
    HelpWindow* window = HelpWindow::ShowUserGuide(owner, kManual);
    QVERIFY(window);
    QCOMPARE(window->windowTitle(), QStringLiteral("Vardune Help"));
    QCOMPARE(window->Owner(), owner);
    QVERIFY(window->isWindow());
    QVERIFY(window->isVisible());
    QCOMPARE(window->windowModality(), Qt::NonModal);
    QVERIFY(!QApplication::activeModalWidget());
    QVERIFY2(window->Problem().isEmpty(), qPrintable(window->Problem()));
    QCOMPARE(Heading(window->Browser()), QStringLiteral("Vardune User Guide"));

    // One window per owner: asking again brings the same window back.
    QCOMPARE(HelpWindow::ShowUserGuide(owner, kManual), window);
    QWidget other;
    HelpWindow* second = HelpWindow::ShowUserGuide(&other, kManual);
    QVERIFY(second != window);
    QCOMPARE(second->Owner(), &other);

    // It goes with its owner.
    QPointer<HelpWindow> watched = window;
    delete owner;
    QVERIFY(!watched);

    // Without an owner one shared window serves, and closing it frees it.
    QPointer<HelpWindow> ownerless = HelpWindow::ShowUserGuide(nullptr, kManual);
    QVERIFY(ownerless && ownerless->isWindow() && !ownerless->parentWidget());
    QCOMPARE(HelpWindow::ShowUserGuide(nullptr, kManual), ownerless.data());
    ownerless->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(!ownerless);
}

void HelpTest::staysUsableWhileTheMainWindowWaits()
{
    Module1::Test::SetEndProcessHandler([] {});
    auto* form = new Form1;
    form->InitForm();
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form));
    Module1::helpFile() = kManual;
    form->ActiveHelp->trigger();
    QPointer<HelpWindow> window;
    for (QWidget* open : QApplication::topLevelWidgets())
        if (auto* help = qobject_cast<HelpWindow*>(open); help && help->isVisible())
            window = help;
    QVERIFY(window);
    QVERIFY(QTest::qWaitForWindowExposed(window));

    // The About box holds the main window, as a batch does; the manual reads on.
    form->About->trigger();
    QVERIFY(!form->isEnabled());
    QVERIFY(window->isEnabled());
    QTextBrowser* browser = window->Browser();
    QVERIFY(ClickLink(browser, QStringLiteral("the_batch.htm")));
    QCOMPARE(Heading(browser), QStringLiteral("The batch"));
    QTest::keyClick(browser->viewport(), Qt::Key_PageDown);
    QVERIFY(browser->verticalScrollBar()->value() > 0);
    auto* toolbar = window->findChild<QToolBar*>(QStringLiteral("HelpToolbar"));
    QTest::mouseClick(toolbar->widgetForAction(window->findChild<QAction*>(QStringLiteral("HelpBack"))), Qt::LeftButton);
    QCOMPARE(Heading(browser), QStringLiteral("Vardune User Guide"));
    // Asking again while it is open brings the same window; it goes with the program.
    form->ActiveHelp->trigger();
    QCOMPARE(QApplication::topLevelWidgets().count(window.data()), 1);
    delete form;
    QVERIFY(!window);
    Module1::Test::ReleaseInstanceLock();
}

void HelpTest::linksReachEveryPageAndBack_data()
{
    QTest::addColumn<QString>("link");
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("heading");
    QTest::addColumn<QString>("part");
    QTest::newRow("collecting") << "collecting_files.htm" << "/HTML/collecting_files.htm" << "Collecting files" << "";
    QTest::newRow("output folder") << "output_folder.htm" << "/HTML/output_folder.htm" << "The output folder" << "";
    QTest::newRow("options") << "options.htm" << "/HTML/options.htm" << "Options" << "";
    QTest::newRow("batch") << "the_batch.htm" << "/HTML/the_batch.htm" << "The batch" << "";
    QTest::newRow("list") << "vardo_list.htm" << "/HTML/vardo_list.htm" << "The Vardo list" << "";
    QTest::newRow("settings") << "settings.htm" << "/HTML/settings.htm" << "Settings and updates" << "";
    QTest::newRow("part of a page") << "settings.htm#newversion" << "/HTML/settings.htm" << "Settings and updates"
                                    << "newversion";
}

void HelpTest::linksReachEveryPageAndBack()
{
    QFETCH(QString, link);
    QFETCH(QString, page);
    QFETCH(QString, heading);
    QFETCH(QString, part);
    QWidget owner;
    HelpWindow* window = HelpWindow::ShowUserGuide(&owner, kManual);
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QTextBrowser* browser = window->Browser();
    QVERIFY(!Pictures(browser->document()).isEmpty());

    QVERIFY2(ClickLink(browser, link), "the guide has no such link");
    QCOMPARE(browser->source().path(), page);
    QCOMPARE(browser->source().fragment(), part);
    QCOMPARE(Heading(browser), heading);
    // Pictures sit in a folder beside the pages: "../images/...".
    for (const QString& name : Pictures(browser->document()))
        QVERIFY2(!PictureOf(browser->document(), name).isNull(), qPrintable(name));

    QVERIFY2(ClickLink(browser, QStringLiteral("vardune_user_guide.htm")), "the page has no link back to the guide");
    QCOMPARE(Heading(browser), QStringLiteral("Vardune User Guide"));
    // The guide's own pictures load too.
    for (const QString& name : Pictures(browser->document()))
        QVERIFY2(!PictureOf(browser->document(), name).isNull(), qPrintable(name));
}

void HelpTest::backForwardAndHome()
{
    QWidget owner;
    HelpWindow* window = HelpWindow::ShowUserGuide(&owner, kManual);
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QTextBrowser* browser = window->Browser();
    auto* back = window->findChild<QAction*>(QStringLiteral("HelpBack"));
    auto* forward = window->findChild<QAction*>(QStringLiteral("HelpForward"));
    auto* home = window->findChild<QAction*>(QStringLiteral("HelpHome"));
    QVERIFY(back && forward && home);
    QVERIFY(!back->isEnabled());

    QVERIFY(ClickLink(browser, QStringLiteral("options.htm")));
    QVERIFY(ClickLink(browser, QStringLiteral("the_batch.htm")));
    QCOMPARE(Heading(browser), QStringLiteral("The batch"));
    back->trigger();
    QCOMPARE(Heading(browser), QStringLiteral("Options"));
    QVERIFY(forward->isEnabled());
    forward->trigger();
    QCOMPARE(Heading(browser), QStringLiteral("The batch"));
    home->trigger();
    QCOMPARE(Heading(browser), QStringLiteral("Vardune User Guide"));
}

void HelpTest::addressesResolveInsideTheManual_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("expected"); // text the resource holds, "picture", or "" for nothing
    const int html = QTextDocument::HtmlResource, image = QTextDocument::ImageResource;
    QTest::newRow("picture, up a folder") << "../images/add.png" << image << "picture";
    QTest::newRow("picture, from the root") << "/images/done.png" << image << "picture";
    QTest::newRow("page, full address") << "chm:///HTML/the_batch.htm" << html << "Stopping a batch";
    QTest::newRow("page with a part") << "vardo_list.htm#names" << html << "Names of the new files";
    QTest::newRow("style sheet") << "../styles/manual.css" << int(QTextDocument::StyleSheetResource) << "h1";
    QTest::newRow("missing page") << "no_such_page.htm" << html << "Page not found";
    QTest::newRow("missing picture") << "../images/no_such_picture.png" << image << "";
    QTest::newRow("file outside the manual") << QUrl::fromLocalFile(QStringLiteral(VARDUNE_MANUAL)).toString() << html
                                             << "";
}

void HelpTest::addressesResolveInsideTheManual()
{
    QFETCH(QString, address);
    QFETCH(int, type);
    QFETCH(QString, expected);
    ChmBrowser browser;
    QVERIFY(browser.OpenManual(kManual));
    browser.setSource(ChmBrowser::TopicUrl(QStringLiteral("HTML/options.htm")));

    const QVariant resource = browser.loadResource(type, QUrl(address));
    if (expected.isEmpty())
        QVERIFY(resource.isNull() || (resource.userType() == QMetaType::QImage && resource.value<QImage>().isNull()));
    else if (expected == QLatin1String("picture"))
        QVERIFY(!resource.value<QImage>().isNull());
    else
        QVERIFY2(resource.toString().contains(expected), qPrintable(resource.toString().left(200)));
}

void HelpTest::topicSpellings_data()
{
    QTest::addColumn<QString>("topic");
    QTest::addColumn<QString>("heading");
    QTest::newRow("as the program asks") << kGuide << "Vardune User Guide";
    QTest::newRow("rooted") << "/HTML/vardune_user_guide.htm" << "Vardune User Guide";
    QTest::newRow("backslash") << "HTML\\vardune_user_guide.htm" << "Vardune User Guide";
    QTest::newRow("upper case") << "HTML/VARDUNE_USER_GUIDE.HTM" << "Vardune User Guide";
    QTest::newRow("part of another page") << "HTML/settings.htm#newversion" << "Settings and updates";
}

void HelpTest::topicSpellings()
{
    QFETCH(QString, topic);
    QFETCH(QString, heading);
    QWidget owner;
    HelpWindow* window = HelpWindow::ShowUserGuide(&owner, kManual, topic);
    QVERIFY2(window->Problem().isEmpty(), qPrintable(window->Problem()));
    QCOMPARE(Heading(window->Browser()), heading);
}

void HelpTest::manualThatCannotBeReadIsExplained_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("topic");
    QTest::addColumn<QString>("reason");
    QVERIFY(scratch_.isValid());
    const auto write = [this](const char* name, const QByteArray& bytes) {
        QFile file(scratch_.filePath(QLatin1String(name)));
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            qFatal("cannot write %s", name);
        return file.fileName();
    };
    QFile manual(kManual);
    QVERIFY(manual.open(QIODevice::ReadOnly));
    const QByteArray chm = manual.readAll();
    QVERIFY(chm.size() > 4096);

    QTest::newRow("no such file") << scratch_.filePath(QStringLiteral("gone/VarduneManual.chm")) << kGuide
                                  << "no file of that name";
    QTest::newRow("no file named") << QString() << kGuide << "No manual file was named";
    QTest::newRow("text file") << write("notes.chm", "This is not a help file.\n") << kGuide << "not a help file";
    QTest::newRow("empty file") << write("empty.chm", QByteArray()) << kGuide << "not a help file";
    QTest::newRow("a folder") << scratch_.path() << kGuide << "not a help file";
    QTest::newRow("header only") << write("header.chm", chm.left(120)) << kGuide << "damaged";
    QTest::newRow("cut in half") << write("half.chm", chm.left(chm.size() / 2)) << kGuide << "damaged";
    // Cut short after the pages asked for: refused as a whole all the same.
    QTest::newRow("last bytes lost") << write("short.chm", chm.left(chm.size() - 16)) << kGuide << "damaged";
    QTest::newRow("page not in it") << kManual << "HTML/no_such_page.htm" << "HTML/no_such_page.htm is not in it";
}

void HelpTest::manualThatCannotBeReadIsExplained()
{
    QFETCH(QString, path);
    QFETCH(QString, topic);
    QFETCH(QString, reason);
    QWidget owner;
    HelpWindow* window = HelpWindow::ShowUserGuide(&owner, kManual);
    QCOMPARE(Heading(window->Browser()), QStringLiteral("Vardune User Guide"));

    // The same window, asked for a manual it cannot read, says so instead of the page.
    QCOMPARE(HelpWindow::ShowUserGuide(&owner, path, topic), window);
    QVERIFY(window->isVisible());
    QVERIFY(!QApplication::activeModalWidget());
    const QString shown = window->Browser()->toPlainText();
    const QString named = path.isEmpty() ? QStringLiteral("(no file name)") : path;
    QVERIFY2(shown.contains(QStringLiteral("The manual could not be opened: ") + named), qPrintable(shown));
    QVERIFY2(shown.contains(reason), qPrintable(shown));
    QVERIFY(window->Problem().startsWith(QStringLiteral("The manual could not be opened: ") + named));
    QCOMPARE(window->Contents()->topLevelItemCount(), 0);
    // Nothing of the earlier manual can be reached from the message.
    auto* back = window->findChild<QAction*>(QStringLiteral("HelpBack"));
    auto* home = window->findChild<QAction*>(QStringLiteral("HelpHome"));
    QVERIFY(!back->isEnabled() && !home->isEnabled());

    // A good manual afterwards is shown again.
    HelpWindow::ShowUserGuide(&owner, kManual);
    QVERIFY(window->Problem().isEmpty());
    QCOMPARE(Heading(window->Browser()), QStringLiteral("Vardune User Guide"));
}

void HelpTest::webLinksOpenInTheDefaultBrowser()
{
    WebBrowserStandIn web;
    QDesktopServices::setUrlHandler(QStringLiteral("https"), &web, "Open");
    QWidget owner;
    HelpWindow* window = HelpWindow::ShowUserGuide(&owner, kManual, QStringLiteral("HTML/settings.htm"));
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QVERIFY(ClickLink(window->Browser(), QStringLiteral("https://lame.sourceforge.io/")));
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));

    QCOMPARE(web.opened, QList<QUrl>{QUrl(QStringLiteral("https://lame.sourceforge.io/"))});
    // The help window stays on its page.
    QCOMPARE(window->Browser()->source().path(), QStringLiteral("/HTML/settings.htm"));
    QCOMPARE(Heading(window->Browser()), QStringLiteral("Settings and updates"));
}

void HelpTest::contentsFromTheManualsOwnTable()
{
    QWidget owner;
    HelpWindow* window = HelpWindow::ShowUserGuide(&owner, kManual);
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QTreeWidget* contents = window->Contents();
    QVERIFY(contents->isVisible());
    // The headings and their order are the manual's table of contents, read out of the file.
    QCOMPARE(contents->topLevelItemCount(), 1);
    QTreeWidgetItem* guide = contents->topLevelItem(0);
    QCOMPARE(guide->text(0), QStringLiteral("Vardune User Guide"));
    QStringList headings;
    for (int i = 0; i < guide->childCount(); ++i)
        headings << guide->child(i)->text(0);
    QCOMPARE(headings, QStringList({"Collecting files", "The output folder", "Options", "The batch", "The Vardo list",
                                    "Settings and updates"}));
    QCOMPARE(contents->currentItem(), guide);

    // A click on a heading opens its page; a link followed on the page moves the highlight.
    QTest::mouseClick(contents->viewport(), Qt::LeftButton, Qt::NoModifier,
                      contents->visualItemRect(guide->child(3)).center());
    QCOMPARE(Heading(window->Browser()), QStringLiteral("The batch"));
    QVERIFY(ClickLink(window->Browser(), QStringLiteral("vardo_list.htm")));
    QCOMPARE(contents->currentItem()->text(0), QStringLiteral("The Vardo list"));
    // Keys walk the headings as well.
    QTest::keyClick(contents, Qt::Key_Down);
    QCOMPARE(Heading(window->Browser()), QStringLiteral("Settings and updates"));
    QCOMPARE(window->Browser()->source().path(), QStringLiteral("/HTML/settings.htm"));
}

void HelpTest::searchOverThePages()
{
    QWidget owner;
    HelpWindow* window = HelpWindow::ShowUserGuide(&owner, kManual);
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QTabBar* tabs = window->Pane()->tabBar();
    QTest::mouseClick(tabs, Qt::LeftButton, Qt::NoModifier, tabs->tabRect(1).center());
    QCOMPARE(window->Pane()->currentIndex(), 1);
    QLineEdit* box = window->SearchBox();
    QListWidget* results = window->SearchResults();
    auto* status = window->findChild<QLabel*>(QStringLiteral("HelpSearchStatus"));
    const auto titles = [results] {
        QStringList shown;
        for (int i = 0; i < results->count(); ++i)
            shown << results->item(i)->text();
        return shown;
    };

    // Every word typed must be on a page; letter case does not matter; the order is the
    // contents' order.
    const struct {
        const char* typed;
        QStringList found;
    } searches[] = {
        {"RETRY", {"The batch", "The Vardo list"}},
        {"retry quit", {"The batch"}},
        {"Xylophone", {}},
        {"  ", {}},
    };
    for (const auto& search : searches) {
        box->setFocus();
        QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(box, Qt::Key_Delete);
        QTest::keyClicks(box, search.typed);
        QCOMPARE(titles(), search.found);
    }
    QCOMPARE(status->text(), QString());
    QTest::keyClicks(box, "xyzzy");
    QCOMPARE(status->text(), QStringLiteral("No page holds every word."));

    // A result opens its page at the first word found, picked out.
    QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(box, "output folder");
    QVERIFY(titles().contains(QStringLiteral("The output folder")));
    QCOMPARE(status->text(), QStringLiteral("%1 pages found.").arg(results->count()));
    QListWidgetItem* page = results->findItems(QStringLiteral("The output folder"), Qt::MatchExactly).front();
    QTest::mouseClick(results->viewport(), Qt::LeftButton, Qt::NoModifier, results->visualItemRect(page).center());
    QCOMPARE(Heading(window->Browser()), QStringLiteral("The output folder"));
    QCOMPARE(window->Browser()->textCursor().selectedText().toLower(), QStringLiteral("output"));
    QCOMPARE(window->Contents()->currentItem()->text(0), QStringLiteral("The output folder"));
}

void HelpTest::escapeClosesIt()
{
    QWidget owner;
    for (const char* where : {"HelpBrowser", "HelpContents", "HelpSearchBox"}) {
        QPointer<HelpWindow> window = HelpWindow::ShowUserGuide(&owner, kManual);
        QVERIFY(QTest::qWaitForWindowExposed(window));
        auto* focus = window->findChild<QWidget*>(QLatin1String(where));
        QVERIFY2(focus, where);
        QTest::keyClick(focus, Qt::Key_Escape);
        QVERIFY2(!window->isVisible(), where);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!window);
    }
}

VARDUNE_GUI_TEST_MAIN(HelpTest)
#include "help_test.moc"
