#include "system/Alerts.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <utility>

#include "platform/NotificationCenter.h"
#include "runtime/Queue.h"
#include "runtime/Timer.h"
#include "system/AlertEvaluator.h"
#include "system/AlertFiguresReader.h"
#include "system/Formatting.h"
#include "system/System.h"

namespace vigil {

namespace {

using Key = std::pair<AlertKind, std::string>;

// At most one notification per rule and subject in this time; one that would come sooner waits
// for it to pass (and is dropped if its rule clears meanwhile).
constexpr std::chrono::minutes kQuietTime{10};

bool sameAlerts(const std::vector<ActiveAlert>& a, const std::vector<ActiveAlert>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const auto& x, const auto& y) {
        return x.kind == y.kind && x.subject == y.subject && x.text == y.text && x.since == y.since;
    });
}

bool isOpenAction(const std::string& action) {
    return action == "default" || action == "open";
}

}  // namespace

struct Alerts::State {
    Environment environment;

    // Guards everything below it but the evaluator (main thread, the evaluating thread and the
    // notification thread meet here).
    mutable std::mutex mutex;
    std::vector<AlertRuleConfig> rules;
    std::optional<DefaultsValue> storedRules;  // as the settings file held them when read
    bool rulesLoaded = false;
    bool rulesChanged = false;
    std::vector<ActiveAlert> active;
    unsigned generation = 0;
    OpenHandler openHandler;
    // What was posted for each rule and subject.
    struct Posted {
        std::optional<std::chrono::steady_clock::time_point> at;
        std::uint32_t id = 0;   // the server's, while the notification shows
        bool notified = false;  // this firing was notified (it may have a "back to normal")
        std::optional<AlertEvent> owed;
    };
    std::map<Key, Posted> posted;
    std::map<std::uint32_t, Key> subjectOfId;
    std::shared_ptr<NotificationCenter> center;
    std::unique_ptr<Timer> timer;

    // One evaluation at a time; guards the evaluator.
    std::mutex evaluating;
    AlertEvaluator evaluator;

    std::chrono::steady_clock::time_point now() const {
        return environment.clock ? environment.clock() : std::chrono::steady_clock::now();
    }
    std::chrono::system_clock::time_point wallNow() const {
        return environment.wallClock ? environment.wallClock() : std::chrono::system_clock::now();
    }
    Defaults& defaults() const {
        return environment.defaults ? *environment.defaults : Defaults::shared();
    }
    const AlertRuleConfig* rule(AlertKind kind) const {
        for (const auto& rule : rules) {
            if (rule.kind == kind)
                return &rule;
        }
        return nullptr;
    }

    void openCenter(State* self);
    void post(const Key& key, const Notification::Message& message, bool counts);
    void notify(const AlertEvent& event);
    void postOwed();
};

namespace {

Notification::Message messageOf(const AlertEvent& event) {
    Notification::Message message;
    message.title = event.title;
    message.text = event.body;
    message.actions = {{"default", "Open"}, {"open", "Open"}};
    message.urgency = event.urgent ? Notification::Message::Urgency::critical
                                   : Notification::Message::Urgency::normal;
    if (event.type == AlertEvent::Type::cleared)
        message.sound.reset();
    return message;
}

}  // namespace

void Alerts::State::openCenter(State* self) {
    NotificationCenter::Handlers handlers;
    handlers.actionInvoked = [self](std::uint32_t id, const std::string& action) {
        if (!isOpenAction(action))
            return;
        std::unique_lock lock(self->mutex);
        const auto found = self->subjectOfId.find(id);
        if (found == self->subjectOfId.end() || !self->openHandler)
            return;
        auto open = [handler = self->openHandler, key = found->second] {
            handler(key.first, key.second);
        };
        lock.unlock();
        Queue::main().async(std::move(open));
    };
    handlers.closed = [self](std::uint32_t id, std::uint32_t) {
        std::lock_guard lock(self->mutex);
        const auto found = self->subjectOfId.find(id);
        if (found == self->subjectOfId.end())
            return;
        if (auto posted = self->posted.find(found->second);
            posted != self->posted.end() && posted->second.id == id)
            posted->second.id = 0;
        self->subjectOfId.erase(found);
    };
    center = std::make_shared<NotificationCenter>(std::move(handlers), environment.busAddress);
}

// Under the mutex. `counts`: the post counts against the rule's quiet time.
void Alerts::State::post(const Key& key, const Notification::Message& message, bool counts) {
    if (!center)
        return;
    if (counts)
        posted[key].at = now();
    // The id to replace is the one the server gave the rule's last notification, known on the
    // center's thread once that one's answer came.
    auto replaces = [this, key] {
        std::lock_guard lock(mutex);
        return posted[key].id;
    };
    auto answered = [this, key](std::optional<std::uint32_t> id) {
        std::lock_guard lock(mutex);
        if (!id || *id == 0)
            return;
        auto& entry = posted[key];
        if (entry.id != 0 && entry.id != *id)
            subjectOfId.erase(entry.id);
        entry.id = *id;
        subjectOfId[*id] = key;
    };
    center->post(message, std::move(answered), std::move(replaces));
}

// Under the mutex.
void Alerts::State::notify(const AlertEvent& event) {
    const Key key{event.alert.kind, event.alert.subject};
    auto& entry = posted[key];
    switch (event.type) {
        case AlertEvent::Type::fired:
            if (entry.at && now() - *entry.at < kQuietTime) {
                entry.owed = event;
                return;
            }
            entry.owed.reset();
            entry.notified = true;
            post(key, messageOf(event), true);
            return;
        case AlertEvent::Type::escalated:
            // The battery's last step: worth a second notice, whatever the quiet time says.
            entry.owed.reset();
            post(key, messageOf(event), true);
            return;
        case AlertEvent::Type::cleared: {
            entry.owed.reset();
            const auto* config = rule(event.alert.kind);
            if (config && config->notifyCleared && entry.notified)
                post(key, messageOf(event), false);
            entry.notified = false;
            return;
        }
    }
}

// Under the mutex: the notifications that waited for their rule's quiet time to pass, of rules
// that still fire (a volume unmounted meanwhile has nothing left to say).
void Alerts::State::postOwed() {
    const auto stillFiring = [this](const Key& key) {
        return std::any_of(active.begin(), active.end(), [&](const ActiveAlert& alert) {
            return alert.kind == key.first && alert.subject == key.second;
        });
    };
    for (auto& [key, entry] : posted) {
        if (entry.owed && !stillFiring(key))
            entry.owed.reset();
        if (entry.owed && (!entry.at || now() - *entry.at >= kQuietTime)) {
            const auto message = messageOf(*entry.owed);
            entry.owed.reset();
            entry.notified = true;
            post(key, message, true);
        }
    }
}

Alerts& Alerts::shared() {
    static Alerts* instance = new Alerts();
    return *instance;
}

// The program's instance reads this machine; System::shared() is made when it first evaluates
// (after the program made it on the main thread).
Alerts::Alerts() : Alerts(Environment{}) {
    state_->environment.figures = [reader = std::shared_ptr<AlertFiguresReader>()](
                                      const std::vector<AlertRuleConfig>& enabled) mutable {
        if (!reader)
            reader = std::make_shared<AlertFiguresReader>(System::shared());
        return reader->read(enabled);
    };
}

Alerts::Alerts(Environment environment) : state_(std::make_unique<State>()) {
    state_->environment = std::move(environment);
    state_->evaluator.setTemperatureWriter(
        [defaults = &state_->defaults()](double celsius) { return degrees(celsius, *defaults); });
    state_->openCenter(state_.get());
}

Alerts::~Alerts() {
    stop();
}

void Alerts::start() {
    reloadRules();
    std::lock_guard lock(state_->mutex);
    if (!state_->center)
        state_->openCenter(state_.get());
    if (state_->environment.interval <= 0)
        return;
    if (!state_->timer) {
        state_->timer = std::make_unique<Timer>(state_->environment.interval,
                                                /*background=*/true, [this] { evaluateNow(); });
    }
    state_->timer->start();
}

void Alerts::stop() {
    std::unique_ptr<Timer> timer;
    std::shared_ptr<NotificationCenter> center;
    {
        std::lock_guard lock(state_->mutex);
        timer = std::move(state_->timer);
        center = std::move(state_->center);
    }
    // Outside the lock: a tick or a notification's answer may be waiting for it.
    timer.reset();
    if (center)
        center->stop();
}

void Alerts::reloadRules() {
    auto stored = state_->defaults()[kAlertRulesKey].object();
    auto rules = alertRules(state_->defaults());
    std::lock_guard lock(state_->mutex);
    state_->storedRules = std::move(stored);
    state_->rules = std::move(rules);
    state_->rulesLoaded = true;
    state_->rulesChanged = true;
}

void Alerts::evaluateNow() {
    std::lock_guard evaluating(state_->evaluating);
    reloadRulesIfChanged();
    std::vector<AlertRuleConfig> enabled;
    {
        std::lock_guard lock(state_->mutex);
        if (state_->rulesChanged) {
            state_->evaluator.setRules(state_->rules);
            state_->rulesChanged = false;
        }
        for (const auto& rule : state_->rules) {
            if (rule.enabled)
                enabled.push_back(rule);
        }
    }
    const AlertFigures figures =
        state_->environment.figures ? state_->environment.figures(enabled) : AlertFigures{};
    const auto events = state_->evaluator.evaluate(figures, state_->now(), state_->wallNow());
    auto active = state_->evaluator.active();

    std::lock_guard lock(state_->mutex);
    if (!sameAlerts(active, state_->active)) {
        state_->active = std::move(active);
        ++state_->generation;
    }
    for (const auto& event : events)
        state_->notify(event);
    state_->postOwed();
}

// The settings file changed the rules (an edit by hand, another instance, the settings view).
void Alerts::reloadRulesIfChanged() {
    const auto stored = state_->defaults()[kAlertRulesKey].object();
    {
        std::lock_guard lock(state_->mutex);
        if (state_->rulesLoaded && stored == state_->storedRules)
            return;
    }
    reloadRules();
}

void Alerts::connectionCameBack() {
    if (!state_->rulesLoaded)
        reloadRules();
    std::lock_guard lock(state_->mutex);
    const auto* rule = state_->rule(AlertKind::connectionBack);
    if (!rule || !rule->enabled)
        return;
    const Key key{AlertKind::connectionBack, ""};
    const auto& entry = state_->posted[key];
    if (entry.at && state_->now() - *entry.at < kQuietTime)
        return;
    Notification::Message message;
    message.title = "Network";
    message.text = "Connected to Internet";
    message.actions = {{"default", "Open"}, {"open", "Open"}};
    state_->post(key, message, true);
}

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
