#pragma once
#include <QWidget>

// A bar the user drags to size the folder tree. It reports presses, releases and every mouse
// move, pressed or not, with the pointer's offset from the bar's own edge in twips.
class SplitterBar : public QWidget {
    Q_OBJECT
public:
    explicit SplitterBar(Qt::Orientation along, QWidget* parent = nullptr);

signals:
    void MouseDown();
    void MouseMove(float offsetTwips);
    void MouseUp();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    // Horizontal: the bar lies under the tree and moves up and down.
    Qt::Orientation along_;
};
