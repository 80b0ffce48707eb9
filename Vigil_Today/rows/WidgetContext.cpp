#include "rows/WidgetContext.h"

#include "NavigationController.h"
#include "settings/Defaults.h"
#include "system/System.h"
#include "themes/Theme.h"

namespace vigil {

WidgetContext WidgetContext::shared() {
    return WidgetContext{System::shared(), NavigationController::shared(), Defaults::shared(),
                         ThemeManager::shared()};
}

}  // namespace vigil
