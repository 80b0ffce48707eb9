#include "AlertOpenHandler.h"

#include <QLayout>
#include <QScrollArea>

#include "TodayViewController.h"
#include "host/PanelWindow.h"

namespace vigil {

Alerts::OpenHandler alertOpenHandler(PanelWindow& panel, TodayViewController& widget) {
    return [&panel, &widget](AlertKind kind, const std::string& subject) {
        panel.endEditing();
        QWidget* shown = widget.showAlertDetails(kind, subject);
        panel.setPanelVisible(true);
        QScrollArea* scroll = panel.scrollArea();
        if (!shown || !scroll || !scroll->widget())
            return;
        // The list lays out its new contents first, so that the view has its place.
        if (QLayout* layout = scroll->widget()->layout())
            layout->activate();
        scroll->ensureWidgetVisible(shown, 0, 0);
    };
}

}  // namespace vigil
