#include "settings/AlertRulesSection.h"

#include <QApplication>
#include <QGridLayout>
#include <QLabel>

#include <cmath>

#include "themes/Theme.h"
#include "ui/FUIColor.h"
#include "ui/FUIFont.h"

namespace vigil {

namespace {

// How far a rule's levels and "back to normal" choice stand in from its switch.
constexpr int kIndent = 20;
constexpr int kLevelWidth = 92;

struct LevelRange {
    int minimum;
    int maximum;
    int step;
};

// Within what the settings file accepts for every rule of the unit.
LevelRange rangeFor(const std::string& unit) {
    if (unit == "%")
        return {1, 99, 1};
    if (unit == "minutes")
        return {5, 24 * 60, 5};
    // Degrees below a sensor's limit.
    return {1, 50, 1};
}

int rounded(double level) {
    return std::isfinite(level) ? static_cast<int>(std::lround(level)) : 0;
}

QSpinBox* levelBox(const QString& ruleTitle, const QString& which, const std::string& unit,
                   QWidget* parent) {
    auto* box = new QSpinBox(parent);
    const LevelRange range = rangeFor(unit);
    box->setRange(range.minimum, range.maximum);
    box->setSingleStep(range.step);
    box->setSuffix(unit == "%" ? QStringLiteral("\u00a0%")
                               : QStringLiteral("\u00a0") + QString::fromStdString(unit));
    box->setAccessibleName(ruleTitle + QStringLiteral(", ") + which);
    box->setKeyboardTracking(false);
    // The arrow keys, Page Up and Down and the wheel step the level; without the buttons two
    // levels in minutes fit the panel's width.
    box->setButtonSymbols(QAbstractSpinBox::NoButtons);
    box->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    box->setToolTip(which.left(1).toUpper() + which.mid(1));
    // Wide enough for "120 minutes"; the longest level the box takes would not fit the panel.
    box->setMinimumWidth(kLevelWidth);
    return box;
}

}  // namespace

AlertRulesSection::AlertRulesSection(Defaults& defaults, QWidget* parent)
    : QWidget(parent), defaults_(defaults) {
    setObjectName(QStringLiteral("alertRules"));
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(2);
    // Under each rule's switch, indented: its levels, then its "back to normal" choice. The panel
    // is too narrow for a rule's name and two levels side by side.
    grid->setColumnMinimumWidth(0, kIndent);
    grid->setColumnStretch(3, 1);
    int row = 0;
    const auto font = FUIFont::normal(12);
    for (const QString& caption : {QStringLiteral("Warn at"), QStringLiteral("Clear at")}) {
        auto* label = new TitleField(caption, this);
        if (font)
            label->setFont(*font);
        label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        grid->addWidget(label, row, 1 + static_cast<int>(captions_.size()));
        captions_.append(label);
    }
    ++row;
    rules_.reserve(allAlertKinds().size());
    for (AlertKind kind : allAlertKinds())
        addRule(*grid, row, kind);
    // The "back to normal" choice is the rule's lesser part: a size smaller.
    const auto smaller = FUIFont::normal(11);
    for (const RuleControls& rule : rules_) {
        for (QWidget* control :
             std::initializer_list<QWidget*>{rule.enabled, rule.warnLevel, rule.clearLevel}) {
            if (control && font)
                control->setFont(*font);
        }
        if (smaller)
            rule.notifyCleared->setFont(*smaller);
    }
}

void AlertRulesSection::addRule(QGridLayout& grid, int& row, AlertKind kind) {
    const QString title = QString::fromStdString(alertRuleTitle(kind));
    RuleControls rule{kind, new QCheckBox(title, this), nullptr, nullptr, nullptr};
    rule.enabled->setObjectName(QStringLiteral("alertEnabled%1").arg(rules_.size()));
    grid.addWidget(rule.enabled, row++, 0, 1, 4);
    if (alertRuleHasLevels(kind)) {
        const std::string unit = alertLevelUnit(kind);
        rule.warnLevel = levelBox(title, QStringLiteral("warning level"), unit, this);
        rule.clearLevel = levelBox(title, QStringLiteral("clear level"), unit, this);
        grid.addWidget(rule.warnLevel, row, 1);
        grid.addWidget(rule.clearLevel, row++, 2);
    }
    rule.notifyCleared = new QCheckBox(QStringLiteral("Tell me when it is back to normal"), this);
    rule.notifyCleared->setAccessibleName(title +
                                          QStringLiteral(": tell me when it is back to normal"));
    grid.addWidget(rule.notifyCleared, row++, 1, 1, 3);
    // The connection coming back is itself the news; there is no "back to normal" after it.
    rule.notifyCleared->setVisible(kind != AlertKind::connectionBack);
    grid.setRowMinimumHeight(row++, 4);
    rules_.push_back(rule);

    const size_t index = rules_.size() - 1;
    QObject::connect(rule.enabled, &QCheckBox::toggled, this, [this, index](bool on) {
        rules_[index].notifyCleared->setEnabled(on);
        store();
    });
    QObject::connect(rule.notifyCleared, &QCheckBox::toggled, this, [this] { store(); });
    if (rule.warnLevel) {
        QObject::connect(rule.warnLevel, &QSpinBox::valueChanged, this, [this, index] {
            keepClearBeyondWarning(rules_[index]);
            store();
        });
        QObject::connect(rule.clearLevel, &QSpinBox::valueChanged, this, [this] { store(); });
    }
}

const AlertRulesSection::RuleControls& AlertRulesSection::controls(AlertKind kind) const {
    for (const RuleControls& rule : rules_) {
        if (rule.kind == kind)
            return rule;
    }
    return rules_.front();
}

void AlertRulesSection::keepClearBeyondWarning(RuleControls& rule) {
    if (!rule.warnLevel)
        return;
    const LevelRange range = rangeFor(alertLevelUnit(rule.kind));
    const int warn = rule.warnLevel->value();
    // QSpinBox moves a value that falls outside its new range to the nearer end: the push is seen.
    if (alertRuleFiresAbove(rule.kind)) {
        rule.warnLevel->setMinimum(range.minimum + range.step);
        rule.clearLevel->setRange(range.minimum, warn - range.step);
    } else {
        rule.warnLevel->setMaximum(range.maximum - range.step);
        rule.clearLevel->setRange(warn + range.step, range.maximum);
    }
}

void AlertRulesSection::show(RuleControls& rule, const AlertRuleConfig& config) {
    rule.enabled->setChecked(config.enabled);
    rule.notifyCleared->setChecked(config.notifyCleared);
    rule.notifyCleared->setEnabled(config.enabled);
    if (!rule.warnLevel)
        return;
    const LevelRange range = rangeFor(alertLevelUnit(rule.kind));
    rule.warnLevel->setRange(range.minimum, range.maximum);
    rule.clearLevel->setRange(range.minimum, range.maximum);
    rule.warnLevel->setValue(rounded(config.warnLevel));
    keepClearBeyondWarning(rule);
    rule.clearLevel->setValue(rounded(config.clearLevel));
}

void AlertRulesSection::reload() {
    reloading_ = true;
    const std::vector<AlertRuleConfig> stored = alertRules(defaults_);
    for (RuleControls& rule : rules_) {
        for (const AlertRuleConfig& config : stored) {
            if (config.kind == rule.kind)
                show(rule, config);
        }
    }
    reloading_ = false;
}

void AlertRulesSection::store() {
    if (reloading_)
        return;
    // What the view does not show (the minimum durations) stays as stored.
    std::vector<AlertRuleConfig> stored = alertRules(defaults_);
    for (AlertRuleConfig& config : stored) {
        const RuleControls& rule = controls(config.kind);
        config.enabled = rule.enabled->isChecked();
        config.notifyCleared = rule.notifyCleared->isChecked();
        if (rule.warnLevel) {
            config.warnLevel = rule.warnLevel->value();
            config.clearLevel = rule.clearLevel->value();
        }
    }
    setAlertRules(stored, defaults_);
    if (onRulesChanged)
        onRulesChanged();
}

void AlertRulesSection::applyTheme(const Theme& theme) {
    theme.updateText(this);
    for (const RuleControls& rule : rules_) {
        for (QWidget* field : std::initializer_list<QWidget*>{
                 rule.enabled, rule.warnLevel, rule.clearLevel, rule.notifyCleared}) {
            if (!field)
                continue;
            QPalette palette = QApplication::palette(field);
            if (theme.isDark) {
                for (auto group : {QPalette::Active, QPalette::Inactive}) {
                    for (auto role : {QPalette::Button, QPalette::Base, QPalette::Window})
                        palette.setColor(group, role, FUIColor::wetAsphalt());
                    for (auto role : {QPalette::ButtonText, QPalette::Text})
                        palette.setColor(group, role, theme.labelColor);
                }
            }
            for (auto group : {QPalette::Active, QPalette::Inactive})
                palette.setColor(group, QPalette::WindowText, theme.labelColor);
            QColor faint = theme.labelColor;
            faint.setAlphaF(0.45f);
            palette.setColor(QPalette::Disabled, QPalette::WindowText, faint);
            palette.setColor(QPalette::Disabled, QPalette::Text, faint);
            field->setPalette(palette);
        }
    }
}

}  // namespace vigil
