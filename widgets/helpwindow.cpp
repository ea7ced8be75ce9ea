#include "helpwindow.h"

#include "chmbrowser.h"
#include "chmfile.h"
#include "sitemap.h"

#include <QAction>
#include <QApplication>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QRegularExpression>
#include <QSignalBlocker>
#include <QSplitter>
#include <QStringDecoder>
#include <QStyle>
#include <QTabWidget>
#include <QTextDocument>
#include <QToolBar>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <QVBoxLayout>
#include <QWindow>

#include <set>

namespace {
const QString kAdvice = QStringLiteral(
    "Vardune keeps its manual in the file named above. "
    "Installing Vardune again puts a good copy there.");

// A name of the table of contents: UTF-8 where it is that, else the Western code page that
// help compilers write by default.
QString SitemapText(const std::string& bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString text = utf8(QByteArray::fromStdString(bytes));
    return utf8.hasError() ? QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size())) : text;
}

void AddHeadings(QTreeWidget* tree, QTreeWidgetItem* parent, const std::vector<vardune::SitemapEntry>& entries)
{
    for (const vardune::SitemapEntry& entry : entries) {
        auto* item = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(tree);
        item->setText(0, SitemapText(entry.name));
        item->setToolTip(0, item->text(0));
        item->setData(0, Qt::UserRole, SitemapText(entry.local));
        AddHeadings(tree, item, entry.children);
    }
}

constexpr int kMostWords = 20;
} // namespace

HelpWindow* HelpWindow::ShowUserGuide(QWidget* owner, const QString& chmPath, const QString& topic)
{
    HelpWindow* window = nullptr;
    for (QWidget* open : QApplication::topLevelWidgets()) {
        auto* help = qobject_cast<HelpWindow*>(open);
        if (help && help->owner_ == owner && help->isVisible())
            window = help;
    }
    if (!window)
        window = new HelpWindow(owner);
    window->ShowTopic(chmPath, topic);
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}

HelpWindow::HelpWindow(QWidget* owner)
    : QWidget(nullptr, Qt::Window)
    , owner_(owner)
{
    setObjectName(QStringLiteral("HelpWindow"));
    setAttribute(Qt::WA_DeleteOnClose);
    // Not a child of the owner, which would disable it with the owner: it goes with the owner
    // instead, and the window system keeps it above the owner.
    if (owner) {
        connect(owner, &QObject::destroyed, [window = QPointer<HelpWindow>(this)] { delete window.data(); });
        winId();
        if (QWindow* over = owner->window()->windowHandle())
            windowHandle()->setTransientParent(over);
    }
    setWindowTitle(QStringLiteral("Vardune Help"));

    auto* toolbar = new QToolBar(this);
    toolbar->setObjectName(QStringLiteral("HelpToolbar"));
    toolbar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    back_ = toolbar->addAction(style()->standardIcon(QStyle::SP_ArrowBack), QStringLiteral("Back"));
    forward_ = toolbar->addAction(style()->standardIcon(QStyle::SP_ArrowForward), QStringLiteral("Forward"));
    home_ = toolbar->addAction(style()->standardIcon(QStyle::SP_DirHomeIcon), QStringLiteral("Home"));
    back_->setShortcut(QKeySequence::Back);
    forward_->setShortcut(QKeySequence::Forward);
    back_->setObjectName(QStringLiteral("HelpBack"));
    forward_->setObjectName(QStringLiteral("HelpForward"));
    home_->setObjectName(QStringLiteral("HelpHome"));
    home_->setToolTip(QStringLiteral("Back to the page the manual opened at"));

    browser_ = new ChmBrowser(this);
    browser_->setObjectName(QStringLiteral("HelpBrowser"));

    // The pane beside the page: the manual's own table of contents, and a search.
    pane_ = new QTabWidget(this);
    pane_->setObjectName(QStringLiteral("HelpPane"));
    contents_ = new QTreeWidget(pane_);
    contents_->setObjectName(QStringLiteral("HelpContents"));
    contents_->setHeaderHidden(true);
    contents_->setColumnCount(1);
    auto* searchPage = new QWidget(pane_);
    searchBox_ = new QLineEdit(searchPage);
    searchBox_->setObjectName(QStringLiteral("HelpSearchBox"));
    searchBox_->setPlaceholderText(QStringLiteral("Words to find"));
    searchBox_->setClearButtonEnabled(true);
    auto* found = new QLabel(searchPage);
    found->setObjectName(QStringLiteral("HelpSearchStatus"));
    results_ = new QListWidget(searchPage);
    results_->setObjectName(QStringLiteral("HelpSearchResults"));
    auto* searchLayout = new QVBoxLayout(searchPage);
    searchLayout->setContentsMargins(4, 4, 4, 4);
    searchLayout->addWidget(searchBox_);
    searchLayout->addWidget(found);
    searchLayout->addWidget(results_);
    pane_->addTab(contents_, QStringLiteral("&Contents"));
    pane_->addTab(searchPage, QStringLiteral("&Search"));

    auto* split = new QSplitter(Qt::Horizontal, this);
    split->setObjectName(QStringLiteral("HelpSplitter"));
    split->setChildrenCollapsible(false);
    split->addWidget(pane_);
    split->addWidget(browser_);
    split->setStretchFactor(1, 1);
    split->setSizes({230, 630});

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(toolbar);
    layout->addWidget(split);

    connect(contents_, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
        const QString local = item ? item->data(0, Qt::UserRole).toString() : QString();
        if (!local.isEmpty())
            browser_->setSource(ChmBrowser::TopicUrl(local));
    });
    connect(browser_, &QTextBrowser::sourceChanged, this, &HelpWindow::FollowPage);
    connect(searchBox_, &QLineEdit::textChanged, this, &HelpWindow::Search);
    connect(results_, &QListWidget::itemActivated, this,
            [this](QListWidgetItem* item) { OpenResult(item->data(Qt::UserRole).toString()); });
    connect(results_, &QListWidget::itemClicked, this,
            [this](QListWidgetItem* item) { OpenResult(item->data(Qt::UserRole).toString()); });

    back_->setEnabled(false);
    forward_->setEnabled(false);
    connect(browser_, &QTextBrowser::backwardAvailable, back_, &QAction::setEnabled);
    connect(browser_, &QTextBrowser::forwardAvailable, forward_, &QAction::setEnabled);
    connect(back_, &QAction::triggered, browser_, &QTextBrowser::backward);
    connect(forward_, &QAction::triggered, browser_, &QTextBrowser::forward);
    connect(home_, &QAction::triggered, this, [this] { browser_->setSource(ChmBrowser::TopicUrl(topic_)); });

    resize(860, 580);
    if (owner) {
        const QRect over = owner->window()->frameGeometry();
        move(over.center() - rect().center());
    }
}

QTextBrowser* HelpWindow::Browser() const
{
    return browser_;
}

bool HelpWindow::ShowTopic(const QString& chmPath, const QString& topic)
{
    if (chmPath.isEmpty()) {
        ShowProblem(chmPath, QStringLiteral("No manual file was named."));
        return false;
    }
    const QFileInfo file(chmPath);
    if (!file.exists()) {
        ShowProblem(chmPath, QStringLiteral("There is no file of that name."));
        return false;
    }
    if (!browser_->OpenManual(chmPath)) {
        ShowProblem(chmPath, file.isFile() && !file.isReadable()
                                 ? QStringLiteral("You have no permission to read that file.")
                                 : QStringLiteral("The file is damaged or is not a help file (CHM)."));
        return false;
    }
    // The page is read once here, so a file whose pages are cut off or garbled is reported
    // like a missing one rather than shown as a blank window.
    const QString page = ChmBrowser::TopicUrl(topic).path(QUrl::FullyDecoded);
    if (!browser_->Manual()->Read(page)) {
        ShowProblem(chmPath, browser_->Manual()->Contains(page)
                                 ? QStringLiteral("Its pages cannot be read: the file is damaged.")
                                 : QStringLiteral("The page %1 is not in it; the file may be damaged or belong to "
                                                  "another version of Vardune.")
                                       .arg(topic));
        return false;
    }
    problem_.clear();
    topic_ = topic;
    home_->setEnabled(true);
    pages_.clear();
    pagesRead_ = false;
    FillContents();
    browser_->setSource(ChmBrowser::TopicUrl(topic));
    Search(searchBox_->text());
    return true;
}

void HelpWindow::ShowProblem(const QString& chmPath, const QString& reason)
{
    const QString path = chmPath.isEmpty() ? QStringLiteral("(no file name)") : chmPath;
    problem_ = QStringLiteral("The manual could not be opened: %1\n%2").arg(path, reason);
    browser_->OpenManual(QString());
    home_->setEnabled(false);
    contents_->clear();
    pages_.clear();
    pagesRead_ = false;
    Search(searchBox_->text());
    browser_->setHtml(QStringLiteral("<h2>The manual could not be opened</h2>"
                                     "<p>The manual could not be opened: <b>%1</b></p><p>%2</p><p>%3</p>")
                          .arg(path.toHtmlEscaped(), reason.toHtmlEscaped(), kAdvice.toHtmlEscaped()));
    browser_->clearHistory();
}

void HelpWindow::keyPressEvent(QKeyEvent* event)
{
    // Escape closes the manual, from wherever in it the keys go.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void HelpWindow::FillContents()
{
    contents_->clear();
    const ChmFile* manual = browser_->Manual();
    const QString file = manual ? manual->ContentsFile() : QString();
    const std::optional<QByteArray> sitemap = file.isEmpty() ? std::nullopt : manual->Read(file);
    if (!sitemap)
        return;
    const QSignalBlocker quiet(contents_);
    AddHeadings(contents_, nullptr, vardune::ParseSitemap(sitemap->toStdString()));
    contents_->expandAll();
}

void HelpWindow::FollowPage(const QUrl& page)
{
    // The heading of that page, the one of that part of it where there is one.
    QTreeWidgetItem* best = nullptr;
    for (QTreeWidgetItemIterator it(contents_); *it; ++it) {
        const QUrl heading = ChmBrowser::TopicUrl((*it)->data(0, Qt::UserRole).toString());
        if (heading.path() != page.path())
            continue;
        if (heading.fragment() == page.fragment()) {
            best = *it;
            break;
        }
        if (!best)
            best = *it;
    }
    const QSignalBlocker quiet(contents_);
    contents_->setCurrentItem(best);
    if (!best)
        contents_->clearSelection();
}

const std::vector<HelpWindow::Page>& HelpWindow::Pages()
{
    if (pagesRead_)
        return pages_;
    pagesRead_ = true;
    const ChmFile* manual = browser_->Manual();
    if (!manual)
        return pages_;
    // The pages in the order of the contents, then any others in the order they are stored.
    QStringList order;
    for (QTreeWidgetItemIterator it(contents_); *it; ++it) {
        const QString local = (*it)->data(0, Qt::UserRole).toString();
        if (!local.isEmpty())
            order << ChmBrowser::TopicUrl(local).path();
    }
    static const QRegularExpression kPage(QStringLiteral("\\.html?$"), QRegularExpression::CaseInsensitiveOption);
    for (const QString& file : manual->Files())
        if (kPage.match(file).hasMatch())
            order << file;
    std::set<QString> seen;
    for (const QString& path : order) {
        if (!seen.insert(path).second)
            continue;
        const std::optional<QByteArray> bytes = manual->Read(path);
        if (!bytes)
            continue;
        QStringDecoder decoder = QStringDecoder::decoderForHtml(*bytes);
        if (!decoder.isValid())
            decoder = QStringDecoder(QStringDecoder::Utf8);
        QTextDocument document;
        document.setHtml(decoder(*bytes));
        QString title = document.metaInformation(QTextDocument::DocumentTitle).simplified();
        if (title.isEmpty())
            title = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
        pages_.push_back({path, title, document.toPlainText()});
    }
    return pages_;
}

void HelpWindow::Search(const QString& text)
{
    results_->clear();
    auto* found = findChild<QLabel*>(QStringLiteral("HelpSearchStatus"));
    QStringList words = text.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
    words = words.mid(0, kMostWords);
    if (words.isEmpty()) {
        found->clear();
        return;
    }
    for (const Page& page : Pages()) {
        bool all = true;
        for (const QString& word : words)
            all = all && (page.text.contains(word, Qt::CaseInsensitive) || page.title.contains(word, Qt::CaseInsensitive));
        if (!all)
            continue;
        auto* item = new QListWidgetItem(page.title, results_);
        item->setData(Qt::UserRole, page.path);
        // Where the first word stands, as a line to recognise the page by.
        const qsizetype at = page.text.indexOf(words.front(), 0, Qt::CaseInsensitive);
        if (at >= 0)
            item->setToolTip(page.text.mid(std::max<qsizetype>(0, at - 40), 100).simplified());
    }
    found->setText(results_->count() == 0 ? QStringLiteral("No page holds every word.")
                   : results_->count() == 1 ? QStringLiteral("1 page found.")
                                            : QStringLiteral("%1 pages found.").arg(results_->count()));
}

void HelpWindow::OpenResult(const QString& page)
{
    if (page.isEmpty())
        return;
    QUrl url = ChmBrowser::TopicUrl(page);
    browser_->setSource(url);
    // The first word found is picked out on the page, and the page scrolled to it.
    const QStringList words = searchBox_->text().split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
    if (!words.isEmpty()) {
        browser_->moveCursor(QTextCursor::Start);
        browser_->find(words.front());
    }
}
