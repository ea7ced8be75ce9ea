#pragma once
#include <QPointer>
#include <QWidget>

#include <vector>

class ChmBrowser;
class QAction;
class QLineEdit;
class QListWidget;
class QTabWidget;
class QTextBrowser;
class QTreeWidget;
class QTreeWidgetItem;

// The manual's window: pages of VarduneManual.chm with Back, Forward and Home, beside a pane
// with the manual's own table of contents and a search over its pages. It never blocks its
// owner, Escape closes it, and a manual that cannot be read is explained inside the window.
class HelpWindow : public QWidget
{
    Q_OBJECT
public:
    // Shows a page of the manual in the help window of this owner, made on first use and
    // brought back while it is open. It is a window of its own: it stands over its owner and
    // goes when the owner goes, but stays usable while the owner is disabled (a batch, the
    // About box). Without an owner one window serves. A closed help window is deleted.
    static HelpWindow* ShowUserGuide(QWidget* owner, const QString& chmPath,
                                     const QString& topic = QStringLiteral("HTML/vardune_user_guide.htm"));

    explicit HelpWindow(QWidget* owner = nullptr);

    // The window whose command asked for the manual, or none.
    QWidget* Owner() const { return owner_; }

    // Opens the manual at that page (the manual is read afresh, so a replaced file is seen);
    // false, with the reason shown instead, when the file or the page cannot be read.
    bool ShowTopic(const QString& chmPath, const QString& topic);

    QTextBrowser* Browser() const;
    // What the window says instead of a page, or an empty text while a page is shown.
    const QString& Problem() const { return problem_; }

    // The pane beside the page: the table of contents, and the search with its results.
    QTabWidget* Pane() const { return pane_; }
    QTreeWidget* Contents() const { return contents_; }
    QLineEdit* SearchBox() const { return searchBox_; }
    QListWidget* SearchResults() const { return results_; }

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void ShowProblem(const QString& chmPath, const QString& reason);
    // Fills the contents from the manual's table of contents.
    void FillContents();
    // Highlights the heading of the page shown, if it has one.
    void FollowPage(const QUrl& page);
    // Lists the pages that hold every word typed, in the order of the contents.
    void Search(const QString& text);
    void OpenResult(const QString& page);

    struct Page {
        QString path;   // "/HTML/page.htm"
        QString title;
        QString text;   // as the reader sees it, without markup
    };
    // The manual's pages, read on the first search.
    const std::vector<Page>& Pages();

    ChmBrowser* browser_ = nullptr;
    QTabWidget* pane_ = nullptr;
    QTreeWidget* contents_ = nullptr;
    QLineEdit* searchBox_ = nullptr;
    QListWidget* results_ = nullptr;
    std::vector<Page> pages_;
    bool pagesRead_ = false;
    QAction* back_ = nullptr;
    QAction* forward_ = nullptr;
    QAction* home_ = nullptr;
    QPointer<QWidget> owner_;
    QString topic_;
    QString problem_;
};
