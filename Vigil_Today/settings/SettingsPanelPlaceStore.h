#pragma once

#include "host/PanelPlaceStore.h"

namespace vigil {

class Defaults;

// Keeps the panel's place in the settings store under "panelPlace" as {"x": int, "y": int}. A
// stored value that is not such a pair (or lies far outside any screen) reads as no place, with
// one error line.
class SettingsPanelPlaceStore : public PanelPlaceStore {
  public:
    // Farther than this from the origin no screen reaches.
    static constexpr int kMaxCoordinate = 1 << 20;

    explicit SettingsPanelPlaceStore(Defaults& defaults);

    std::optional<QPoint> loadPlace() const override;
    void savePlace(const QPoint& topLeft) override;

  private:
    Defaults& defaults_;
};

}  // namespace vigil
