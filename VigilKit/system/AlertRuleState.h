#pragma once

#include <chrono>
#include <optional>

namespace vigil {

// One rule's state for one subject, a pure state machine over the figure's side of the two
// levels. Quiet; pending while the figure is past the warning level for less than the minimum
// duration (coming back before then starts over); firing from then until the figure is past the
// clear level. A figure between the two levels changes nothing, so one that hovers at the warning
// level of a firing rule does not clear it, and one that hovers at it before does not fire it.
class AlertRuleState {
  public:
    using TimePoint = std::chrono::steady_clock::time_point;
    enum class Change { none, fired, cleared };

    // `pastWarning`: the figure is on the firing side of the warning level now; `pastClear`: on
    // the quiet side of the clear level.
    Change step(bool pastWarning, bool pastClear, TimePoint now, std::chrono::seconds minDuration);

    bool firing() const { return firing_; }
    bool pending() const { return pendingSince_.has_value(); }
    // While it fires: since when the figure has been past the warning level.
    TimePoint firingSince() const { return firingSince_; }

  private:
    std::optional<TimePoint> pendingSince_;
    TimePoint firingSince_{};
    bool firing_ = false;
};

}  // namespace vigil
