#pragma once
#include <QString>

class QLabel;

// Draws Strin as an LCD readout into DisplayPic: one 14 x 20 cell of the glyph strip that
// SourcePic holds per character; a character without a cell leaves its place blank. The
// readout ends up exactly as wide as its cells, whatever it showed before.
void DisplayDigital(QLabel* DisplayPic, const QString& Strin, const QLabel* SourcePic);
