#include "helpwindow.h"

#include "chmbrowser.h"
#include "chmfile.h"

#include <QAction>
#include <QApplication>
#include <QFileInfo>
#include <QPointer>
#include <QStyle>
#include <QToolBar>
#include <QVBoxLayout>
#include <QWindow>

namespace {
const QString kAdvice = QStringLiteral(
    "Vardune keeps its manual in the file named above. "
    "Installing Vardune again puts a good copy there.");
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

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(toolbar);
    layout->addWidget(browser_);

    back_->setEnabled(false);
    forward_->setEnabled(false);
    connect(browser_, &QTextBrowser::backwardAvailable, back_, &QAction::setEnabled);
    connect(browser_, &QTextBrowser::forwardAvailable, forward_, &QAction::setEnabled);
    connect(back_, &QAction::triggered, browser_, &QTextBrowser::backward);
    connect(forward_, &QAction::triggered, browser_, &QTextBrowser::forward);
    connect(home_, &QAction::triggered, this, [this] { browser_->setSource(ChmBrowser::TopicUrl(topic_)); });

    resize(760, 560);
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
    browser_->setSource(ChmBrowser::TopicUrl(topic));
    return true;
}

void HelpWindow::ShowProblem(const QString& chmPath, const QString& reason)
{
    const QString path = chmPath.isEmpty() ? QStringLiteral("(no file name)") : chmPath;
    problem_ = QStringLiteral("The manual could not be opened: %1\n%2").arg(path, reason);
    browser_->OpenManual(QString());
    home_->setEnabled(false);
    browser_->setHtml(QStringLiteral("<h2>The manual could not be opened</h2>"
                                     "<p>The manual could not be opened: <b>%1</b></p><p>%2</p><p>%3</p>")
                          .arg(path.toHtmlEscaped(), reason.toHtmlEscaped(), kAdvice.toHtmlEscaped()));
    browser_->clearHistory();
}
