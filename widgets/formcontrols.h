#pragma once
#include <QColor>
#include <QRect>
#include <QString>

class QLabel;
class QWidget;

// The controls the skinned windows share, placed in pixels and named for the tests.
// A bold "MS Sans Serif" 9.75 pt caption in the given colour, on a transparent background.
QLabel* NewCaption(QWidget* parent, const char* name, const QString& text, QRect at, const QColor& colour);
// A box that shows a picture unscaled from its top-left corner.
QLabel* NewPictureBox(QWidget* parent, const char* name, QRect at);
// A glyph readout: a picture box on black.
QLabel* NewReadout(QWidget* parent, const char* name, QRect at);
