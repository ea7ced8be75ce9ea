#pragma once
#include "skinnedwindow.h"

#include "outputlayout.h"

#include <QPixmap>
#include <QPointer>
#include <QVector>

#include <functional>
#include <optional>
#include <string>

class ChoiceBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

// The options dialog: device, quality and channel, each with a picture of its choice, and
// below them where the outputs go (one folder with V_ names, the folders kept, or names from
// tags by a pattern, with the path the pattern gives for the selected Vardo list entry shown
// while the user types), and even loudness (off, per track, per album). OK takes the three texts into the profile and the layout into the
// settings, unless the pattern cannot serve: then it says why and stays open. Cancel and the
// close button leave both. Either way the main window's status bar shows the profile again.
// It does not block the main window.
class frmOption : public SkinnedWindow {
    Q_OBJECT
public:
    // What the pattern's effect is shown on: the selected entry of the Vardo list with the
    // tags the encoder read of it (nothing when the list is empty), and whether the output
    // folder takes only portable names. Asked only while main is there.
    struct Preview {
        std::function<std::optional<vardune::OutputLayout::Source>()> source;
        std::function<bool()> portable;
    };
    frmOption(QWidget* main, Preview preview);

    void SetPicture();
    // The main window shows the profile line again.
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
    // Where outputs go.
    QWidget* Frame2;
    QLabel* Label5;
    QRadioButton* Option1;  // One folder, V_ names
    QRadioButton* Option2;  // Keep the folders
    QRadioButton* Option3;  // Names from tags
    QLineEdit* Text1;       // the pattern, for names from tags
    QLabel* Label6;         // the path the pattern gives, or why it cannot serve
    // Even loudness: off, per track or per album.
    QWidget* Frame3;
    QLabel* Label7;
    QComboBox* Combo4;
    // The eleven pictures, index 1 to 11 (index 0 unused).
    QVector<QPixmap> ImageList1;

signals:
    // The main window is to show the profile line again.
    void StatusBarValueWanted();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void Form_Load();
    void Command1_Click();
    // Shows the path the chosen layout gives for the selected entry (or a sample file), or in
    // red why the pattern cannot serve; the pattern box takes text only for names from tags.
    void ShowLayoutPreview();
    // The pattern as typed; the default one where the box is empty.
    std::string LayoutPattern() const;

    QPointer<QWidget> main_;
    Preview preview_;
};
