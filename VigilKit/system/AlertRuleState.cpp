#include "system/AlertRuleState.h"

namespace vigil {

AlertRuleState::Change AlertRuleState::step(bool pastWarning, bool pastClear, TimePoint now,
                                            std::chrono::seconds minDuration) {
    if (firing_) {
        if (!pastClear)
            return Change::none;
        firing_ = false;
        pendingSince_.reset();
        return Change::cleared;
    }
    if (!pastWarning) {
        pendingSince_.reset();
        return Change::none;
    }
    if (!pendingSince_)
        pendingSince_ = now;
    if (now - *pendingSince_ < minDuration)
        return Change::none;
    firing_ = true;
    firingSince_ = *pendingSince_;
    pendingSince_.reset();
    return Change::fired;
}

}  // namespace vigil
