#pragma once
#include <QColor>
#include <QFont>
#include <QPalette>
#include <QRect>
#include <QString>

class QLabel;
class QWidget;

// The controls the skinned windows share, placed in pixels and named for the tests.
// The windows' "MS Sans Serif" at a size in points; the font system stands in its nearest
// match where the face itself is missing.
QFont SansSerif(qreal points, bool bold);
// A bold "MS Sans Serif" 9.75 pt caption in the given colour, on a transparent background.
QLabel* NewCaption(QWidget* parent, const char* name, const QString& text, QRect at, const QColor& colour);
// A readout's name for a screen reader: its caption's words and what its glyphs show now
// ("Current: 003").
void NameReadout(QLabel* readout, const QLabel* caption, const QString& shown);
// Makes a caption's whole text fit within width pixels from its left edge: where the face
// that stands in is wider than the designed one, the text is set a little smaller rather
// than run under the control beside it.
void FitCaption(QLabel* caption, int width);
// A box that shows a picture unscaled from its top-left corner.
QLabel* NewPictureBox(QWidget* parent, const char* name, QRect at);
// The colours of a window that keeps its own light grey face whatever the desktop's theme:
// from the given palette (its highlight and links), every colour that a text or a control on
// that face needs, dark text on light grounds in each state, so that nothing on the window
// takes a dark theme's light text onto the light face.
QPalette FixedFacePalette(QPalette from, const QColor& face);
// A glyph readout: a picture box on black.
QLabel* NewReadout(QWidget* parent, const char* name, QRect at);
