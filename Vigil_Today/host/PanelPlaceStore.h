#pragma once

#include <QPoint>

#include <optional>

namespace vigil {

// Where the panel remembers its place on screen. The program backs it with the settings store.
class PanelPlaceStore {
  public:
    virtual ~PanelPlaceStore() = default;
    virtual std::optional<QPoint> loadPlace() const = 0;
    virtual void savePlace(const QPoint& topLeft) = 0;
};

// Keeps the place for the life of the process only.
class MemoryPanelPlaceStore : public PanelPlaceStore {
  public:
    std::optional<QPoint> loadPlace() const override { return place_; }
    void savePlace(const QPoint& topLeft) override {
        place_ = topLeft;
        ++saves_;
    }
    int saveCount() const { return saves_; }

  private:
    std::optional<QPoint> place_;
    int saves_ = 0;
};

}  // namespace vigil
