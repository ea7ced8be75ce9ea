#include "choicebox.h"

#include <QLineEdit>
#include <QSignalBlocker>

ChoiceBox::ChoiceBox(QWidget* parent)
    : QComboBox(parent)
{
    setEditable(true);
    setInsertPolicy(QComboBox::NoInsert);
    setCompleter(nullptr);
    // The box's own handling of a finished edit looks the text up in the list and reports the
    // entry it finds as a choice; here a typed text is no choice and only names the current
    // entry when it equals one exactly.
    disconnect(lineEdit(), &QLineEdit::editingFinished, this, nullptr);
    disconnect(lineEdit(), &QLineEdit::returnPressed, this, nullptr);
    connect(lineEdit(), &QLineEdit::editingFinished, this, &ChoiceBox::EditingFinished);
    connect(this, &QComboBox::activated, this, &ChoiceBox::Chosen);
}

void ChoiceBox::ShowText(const QString& text)
{
    const int entry = findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (entry >= 0) {
        setCurrentIndex(entry);
        return;
    }
    // No entry current, the text as it is: the drop-down then highlights nothing.
    {
        const QSignalBlocker quiet(this);
        setCurrentIndex(-1);
    }
    setEditText(text);
}

void ChoiceBox::EditingFinished()
{
    const QString text = currentText();
    if (currentIndex() >= 0 && itemText(currentIndex()) == text)
        return;
    const QSignalBlocker quiet(this);
    ShowText(text);
}
