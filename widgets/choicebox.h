#pragma once
#include <QComboBox>

// An editable drop-down box that keeps what the user types exactly as typed: nothing is
// completed or matched without regard to letter case, a typed text never replaces itself with
// an entry of the list nor joins the list, and leaving the box changes nothing. Chosen is
// raised only for a choice from the list (the drop-down, the arrow keys, the mouse wheel).
class ChoiceBox : public QComboBox {
    Q_OBJECT
public:
    explicit ChoiceBox(QWidget* parent = nullptr);

    // Shows text; when it is an entry of the list, letter case included, that entry becomes
    // the current one, otherwise no entry is current.
    void ShowText(const QString& text);

signals:
    void Chosen();

private:
    void EditingFinished();
};
