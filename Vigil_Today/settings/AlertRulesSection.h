#pragma once

#include <QCheckBox>
#include <QPointer>
#include <QSpinBox>
#include <QWidget>

#include <functional>
#include <vector>

#include "system/Alerts.h"

class QGridLayout;

namespace vigil {

class Defaults;
struct Theme;

// The settings view's part for the alert rules: for every rule a switch named after it, its
// warning and clear levels in the rule's unit where it has levels, and whether a "back to normal"
// notification follows. The clear level always stays on its own side of the warning level (below
// it for a rule that fires above its level, above it for one that fires below): moving the
// warning level past it pushes the clear level along, in sight. Every change is stored at once.
class AlertRulesSection : public QWidget {
  public:
    struct RuleControls {
        AlertKind kind;
        QPointer<QCheckBox> enabled;
        // Null for a rule without levels.
        QPointer<QSpinBox> warnLevel;
        QPointer<QSpinBox> clearLevel;
        QPointer<QCheckBox> notifyCleared;
    };

    AlertRulesSection(Defaults& defaults, QWidget* parent = nullptr);

    // Reads the rules from the settings again (when the settings view appears).
    void reload();
    void applyTheme(const Theme& theme);

    // Heard after the rules were stored; the program has the alerts read them again.
    std::function<void()> onRulesChanged;

    // One entry per rule, in the order of allAlertKinds().
    const std::vector<RuleControls>& rules() const { return rules_; }
    const RuleControls& controls(AlertKind kind) const;

  private:
    void addRule(QGridLayout& grid, int& row, AlertKind kind);
    void show(RuleControls& rule, const AlertRuleConfig& config);
    // Keeps the clear level at least one step beyond the warning level, on the rule's side.
    void keepClearBeyondWarning(RuleControls& rule);
    void store();

    Defaults& defaults_;
    std::vector<RuleControls> rules_;
    QList<QPointer<QWidget>> captions_;
    bool reloading_ = false;
};

}  // namespace vigil
