#pragma once

namespace vigil {

// A view controller that the refresh tick redraws from the current resource values. Called on the
// main thread.
class Updatable {
  public:
    virtual ~Updatable() = default;
    virtual void update() = 0;
};

}  // namespace vigil
