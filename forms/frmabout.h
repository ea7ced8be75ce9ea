#pragma once
#include "skinnedwindow.h"

#include <QPointer>

class QLabel;

// The About box: the product picture with the version over it, above all other windows. The
// main window waits while it is open; a click on the picture or the background closes it.
class frmAbout : public SkinnedWindow {
    Q_OBJECT
public:
    explicit frmAbout(QWidget* main);
    ~frmAbout() override;

    QLabel* Image1;
    QLabel* lblVersion;

protected:
    void imgTitleClose_Click() override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Form_Load();
    void CloseBox();

    QPointer<QWidget> main_;
};
