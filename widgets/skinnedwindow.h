#pragma once
#include <QPoint>
#include <QWidget>

class QLabel;
class QMouseEvent;

// A borderless window that draws its own frame: a blue title bar with the title and three
// round buttons, grey edges, rounded corners. Pressing the title moves the window; the close
// button closes it; the help and minimize buttons do nothing.
class SkinnedWindow : public QWidget {
    Q_OBJECT
public:
    // width and height are the window's fixed size in pixels.
    SkinnedWindow(const QString& title, int width, int height, QWidget* parent = nullptr);

    // Lays out the frame for the window's size and cuts its outline. Windows call it first
    // when they load.
    void SetFormSkin();
    // The rounded outline: only the inside of the rounded rectangle shows and takes input.
    void SetFormRegion();
    // Lets the user move the window with the mouse as if its title bar had been pressed.
    void DragForm();
    // -1 keeps the window above all others; any other value takes that away.
    void SetFormTopMost(qint16 OnTop);

    QLabel* lblTitle;
    QLabel* imgTitleMinimize;
    QLabel* imgTitleClose;
    QLabel* imgTitleHelp;
    QLabel* imgTitleLeft;
    QLabel* imgTitleRight;
    QLabel* imgWindowBottomLeft;
    QLabel* imgWindowBottomRight;
    QLabel* imgTitleMain;
    QLabel* imgWindowBottom;
    QLabel* imgWindowLeft;
    QLabel* imgWindowRight;

protected:
    virtual void imgTitleClose_Click() { close(); }
    // A click, as the frame's pictures and the About box take it: the left button released
    // over the control.
    static bool IsClick(const QMouseEvent* release, const QWidget* on);
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLabel* Piece(const char* name, bool stretched);
    QList<QWidget*> pieces_;
    bool dragging_ = false;
    QPoint dragOffset_;
};
