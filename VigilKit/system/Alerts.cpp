#include "system/Alerts.h"

#include <mutex>

namespace vigil {

struct Alerts::State {
    Environment environment;
    mutable std::mutex mutex;
    std::vector<AlertRuleConfig> rules;
    std::vector<ActiveAlert> active;
    unsigned generation = 0;
    OpenHandler openHandler;
};

Alerts& Alerts::shared() {
    static Alerts* instance = new Alerts();
    return *instance;
}

Alerts::Alerts() : Alerts(Environment{}) {}

Alerts::Alerts(Environment environment) : state_(std::make_unique<State>()) {
    state_->environment = std::move(environment);
}

Alerts::~Alerts() = default;

void Alerts::start() {
    reloadRules();
}

void Alerts::stop() {}

void Alerts::reloadRules() {
    auto rules = alertRules(state_->environment.defaults ? *state_->environment.defaults
                                                         : Defaults::shared());
    std::lock_guard lock(state_->mutex);
    state_->rules = std::move(rules);
}

void Alerts::evaluateNow() {}

void Alerts::connectionCameBack() {}

std::vector<ActiveAlert> Alerts::active() const {
    std::lock_guard lock(state_->mutex);
    return state_->active;
}

unsigned Alerts::generation() const {
    std::lock_guard lock(state_->mutex);
    return state_->generation;
}

bool Alerts::firing(AlertKind kind, const std::string& subject) const {
    std::lock_guard lock(state_->mutex);
    for (const auto& alert : state_->active) {
        if (alert.kind == kind && (subject.empty() || alert.subject == subject))
            return true;
    }
    return false;
}

void Alerts::setOpenHandler(OpenHandler handler) {
    std::lock_guard lock(state_->mutex);
    state_->openHandler = std::move(handler);
}

}  // namespace vigil
