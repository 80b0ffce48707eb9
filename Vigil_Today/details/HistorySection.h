#pragma once

#include <vector>

#include "ui/HistoryPanel.h"

namespace vigil {

class Defaults;
class History;
struct Theme;

// The history panel of a detail view, made the same way in every view: the range the user chose
// last (kept in the settings), the theme's colours, and the series colours.
class HistorySection {
  public:
    // The history the detail views draw: the program sets the shared one; none (tests that do
    // not ask for it) leaves the views without a chart.
    static History*& shown();
    // Where the chosen range is kept (the program's settings); none forgets it.
    static Defaults*& rangeSettings();

    // A panel of `lines` under `parent`, or none when no history is shown.
    static HistoryPanel* make(QWidget* parent, std::vector<HistoryPanel::Line> lines);
    static void apply(HistoryPanel* panel, const Theme& theme);
};

}  // namespace vigil
