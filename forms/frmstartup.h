#pragma once
#include <QWidget>

class QLabel;

// The splash: the product picture with the version across it, shown while the main window
// loads and hidden, not closed, once it has.
class frmStartUp : public QWidget {
    Q_OBJECT
public:
    explicit frmStartUp(QWidget* parent = nullptr);

    QLabel* lblVersion;

protected:
    void paintEvent(QPaintEvent* event) override;
};
