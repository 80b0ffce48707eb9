#pragma once

#include <QString>

class QLabel;

namespace vigil {

// Shows a figure that changes at every sample (a size, a rate, a percentage) in a label without
// laying the panel out again. A label whose text changes asks its layout, and every layout above
// it, to be worked out anew, which measures the new text once more before it is painted. Here the
// label, once shown, keeps the size its layout gave it, grown when a text needs more: a new text
// that fits repaints the label alone.
//
// Sizes are measured for the figure's shape, each digit standing for the font's widest, and kept:
// a figure whose digits alone changed needs no measuring.
void showFigure(QLabel& label, const QString& text);

}  // namespace vigil
