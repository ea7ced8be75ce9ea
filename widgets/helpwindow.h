#pragma once
#include <QPointer>
#include <QWidget>

class ChmBrowser;
class QAction;
class QTextBrowser;

// The manual's window: pages of VarduneManual.chm with Back, Forward and Home. It never
// blocks its owner, and a manual that cannot be read is explained inside the window.
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

private:
    void ShowProblem(const QString& chmPath, const QString& reason);

    ChmBrowser* browser_ = nullptr;
    QAction* back_ = nullptr;
    QAction* forward_ = nullptr;
    QAction* home_ = nullptr;
    QPointer<QWidget> owner_;
    QString topic_;
    QString problem_;
};
