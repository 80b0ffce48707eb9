#include "settings/SettingsPanelPlaceStore.h"

#include <cstdio>
#include <cstdlib>

#include "C/system/ErrorReport.h"
#include "settings/WidgetDefaults.h"

namespace vigil {

SettingsPanelPlaceStore::SettingsPanelPlaceStore(Defaults& defaults) : defaults_(defaults) {}

std::optional<QPoint> SettingsPanelPlaceStore::loadPlace() const {
    const auto& key = WidgetDefaultsKeys::panelPlace();
    if (!defaults_.hasKey(key))
        return std::nullopt;
    const auto place = defaults_.get(key);
    std::optional<int64_t> x, y;
    if (place) {
        auto coordinate = [&](const char* name) -> std::optional<int64_t> {
            auto found = place->find(name);
            if (found == place->end())
                return std::nullopt;
            return DefaultsCodec<int64_t>::strict(found->second);
        };
        x = coordinate("x");
        y = coordinate("y");
    }
    if (!x || !y || std::llabs(*x) > kMaxCoordinate || std::llabs(*y) > kMaxCoordinate) {
        ErrorReport::shared().note(
            "the stored panel place is not a pair of screen coordinates; the panel takes its "
            "default place");
        return std::nullopt;
    }
    return QPoint(static_cast<int>(*x), static_cast<int>(*y));
}

void SettingsPanelPlaceStore::savePlace(const QPoint& topLeft) {
    DefaultsDictionary place;
    place.emplace("x", static_cast<int64_t>(topLeft.x()));
    place.emplace("y", static_cast<int64_t>(topLeft.y()));
    defaults_.set(WidgetDefaultsKeys::panelPlace(),
                  std::optional<DefaultsDictionary>(std::move(place)));
}

}  // namespace vigil
