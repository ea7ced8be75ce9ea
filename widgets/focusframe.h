#pragma once
#include <QWidget>

// A frame in the highlight colour round a pane while the keyboard focus is in it, so the user
// sees which of the tree, the file view and the list the keys go to. It lies over the pane's
// edge as a child of its own that takes no mouse events; the pane's contents scroll under it.
class FocusFrame : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWidth = 2;

    // Gives the pane its frame; the frame belongs to the pane and goes with it.
    static FocusFrame* Attach(QWidget* pane);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    explicit FocusFrame(QWidget* pane);
    void Follow();

    QWidget* pane_;
};
