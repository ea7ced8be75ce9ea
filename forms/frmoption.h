#pragma once
#include "skinnedwindow.h"

#include <QPixmap>
#include <QPointer>
#include <QVector>

class ChoiceBox;
class Form1;
class QComboBox;
class QLabel;
class QPushButton;

// The options dialog: device, quality and channel, each with a picture of its choice. OK
// takes the three texts into the profile; Cancel and the close button leave it. Either way
// the main window's status bar shows the profile again. It does not block the main window.
class frmOption : public SkinnedWindow {
    Q_OBJECT
public:
    explicit frmOption(Form1* main);

    void SetPicture();
    void ShowStatusBarValue();

    QWidget* Frame1;
    QComboBox* Combo1;
    ChoiceBox* Combo2;
    ChoiceBox* Combo3;
    QLabel* Label2;
    QLabel* Label3;
    QLabel* Label4;
    QLabel* Picture3;
    QLabel* Picture4;
    QLabel* Picture5;
    QPushButton* Command1;
    QPushButton* Command2;
    // The eleven pictures, index 1 to 11 (index 0 unused).
    QVector<QPixmap> ImageList1;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void Form_Load();
    void Command1_Click();

    QPointer<Form1> main_;
};
