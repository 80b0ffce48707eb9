#include "details/HistorySection.h"

#include "settings/WidgetDefaults.h"
#include "themes/Theme.h"
#include "ui/FUIColor.h"

namespace vigil {

History*& HistorySection::shown() {
    static History* history = nullptr;
    return history;
}

Defaults*& HistorySection::rangeSettings() {
    static Defaults* defaults = nullptr;
    return defaults;
}

HistoryPanel* HistorySection::make(QWidget* parent, std::vector<HistoryPanel::Line> lines) {
    if (!shown())
        return nullptr;
    auto* panel = new HistoryPanel(*shown(), std::move(lines), parent);
    if (Defaults* defaults = rangeSettings())
        panel->setRange(int(defaults->get(WidgetDefaultsKeys::historyRange())));
    // Every view's panel follows the range chosen last in any of them.
    panel->onRangeChanged = [](int index) {
        if (Defaults* defaults = rangeSettings())
            defaults->set(WidgetDefaultsKeys::historyRange(), std::int64_t(index));
    };
    return panel;
}

void HistorySection::apply(HistoryPanel* panel, const Theme& theme) {
    if (!panel)
        return;
    const HistoryChart::Colors colors =
        theme.isDark ? HistoryChart::Colors{FUIColor::wetAsphalt(0.55), FUIColor::asbestos(),
                                            theme.titleLabelColor}
                     : HistoryChart::Colors{FUIColor::clouds(0.7), FUIColor::silver(),
                                            theme.titleLabelColor};
    panel->setColors(colors, theme.controllerColor);
}

}  // namespace vigil
