#include "ui/AccessibleViews.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QLabel>

#include <algorithm>
#include <cmath>
#include <numeric>

#include "ui/Activatable.h"
#include "ui/Announcer.h"
#include "ui/Bar.h"
#include "ui/CircleChart.h"
#include "ui/FocusRing.h"
#include "ui/PieChart.h"
#include "ui/SpokenText.h"

namespace vigil {

namespace {

constexpr const char* kFigureName = "vigilFigureName";
constexpr const char* kNotSpoken = "vigilNotSpoken";

// The percentage a gauge shows, or NaN for a view that is no gauge.
double gaugePercent(const QWidget* view) {
    if (const auto* ring = dynamic_cast<const CircleChart*>(view))
        return ring->percent();
    if (const auto* bar = dynamic_cast<const Bar*>(view))
        return bar->percent();
    return std::nan("");
}

// A ring or bar: a progress bar from 0 to 100 whose value text is the spoken percentage.
class GaugeAccessible : public QAccessibleWidget, public QAccessibleValueInterface {
  public:
    explicit GaugeAccessible(QWidget* view) : QAccessibleWidget(view, QAccessible::ProgressBar) {}

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::ValueInterface)
            return static_cast<QAccessibleValueInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }
    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Value)
            return spokenPercent(percent());
        return QAccessibleWidget::text(t);
    }
    QVariant currentValue() const override { return std::round(percent()); }
    void setCurrentValue(const QVariant&) override {}
    QVariant maximumValue() const override { return 100.0; }
    QVariant minimumValue() const override { return 0.0; }
    QVariant minimumStepSize() const override { return 1.0; }

  private:
    double percent() const { return std::clamp(gaugePercent(widget()), 0.0, 100.0); }
};

// A label marked as a figure: "Upload, 1.2 megabytes per second".
class FigureAccessible : public QAccessibleWidget {
  public:
    explicit FigureAccessible(QLabel* label) : QAccessibleWidget(label, QAccessible::StaticText) {}

    QString text(QAccessible::Text t) const override {
        const auto* label = static_cast<const QLabel*>(widget());
        const QString figure = spokenFigure(label->text());
        if (t == QAccessible::Name)
            return joinedSpoken(label->property(kFigureName).toString(), figure);
        if (t == QAccessible::Value)
            return figure;
        return QAccessibleWidget::text(t);
    }
};

// A button, link or clickable row: a push button whose Press action clicks it.
class ActivatableAccessible : public QAccessibleWidget {
  public:
    ActivatableAccessible(QWidget* view, Activatable& target)
        : QAccessibleWidget(view, QAccessible::Button), target_(target) {}

    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name)
            return spokenName(*widget());
        return QAccessibleWidget::text(t);
    }
    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        if (!target_.canActivate())
            s.disabled = true;
        return s;
    }
    QStringList actionNames() const override {
        QStringList names = QAccessibleWidget::actionNames();
        if (target_.canActivate())
            names.prepend(pressAction());
        return names;
    }
    void doAction(const QString& action) override {
        if (action == pressAction() && target_.canActivate()) {
            target_.activate();
            return;
        }
        QAccessibleWidget::doAction(action);
    }

  private:
    Activatable& target_;
};

// Spoken summary of a pie: each slice's share, in order.
QString pieSummary(const PieChart& pie) {
    const auto shares = pie.toPercent();
    if (!shares)
        return QStringLiteral("no data");
    QStringList parts;
    for (double share : *shares)
        parts.append(spokenPercent(share * 100));
    return parts.join(QStringLiteral(", "));
}

// Spoken summary of a line chart: its average and peak.
QString lineSummary(const LineChart& chart) {
    const std::vector<int>& points = chart.dataPoints();
    if (points.empty())
        return QStringLiteral("no data");
    const double sum = std::accumulate(points.begin(), points.end(), 0.0);
    const int peak = *std::max_element(points.begin(), points.end());
    return QStringLiteral("average %1, peak %2")
        .arg(QString::number(sum / double(points.size()), 'f', 1))
        .arg(peak);
}

// A pie or line chart: its description says what a seeing user takes from it.
class ChartAccessible : public QAccessibleWidget {
  public:
    explicit ChartAccessible(QWidget* view) : QAccessibleWidget(view, QAccessible::Chart) {}

    QString text(QAccessible::Text t) const override {
        if (t != QAccessible::Description)
            return QAccessibleWidget::text(t);
        const QString given = widget()->accessibleDescription();
        if (!given.isEmpty())
            return given;
        if (const auto* pie = dynamic_cast<const PieChart*>(widget()))
            return pieSummary(*pie);
        return lineSummary(*static_cast<const LineChart*>(widget()));
    }
};

class AnnouncerAccessible : public QAccessibleWidget {
  public:
    explicit AnnouncerAccessible(QWidget* view)
        : QAccessibleWidget(view, QAccessible::AlertMessage) {}
};

// Decoration only: the focus ring is no part of the tree.
class HiddenAccessible : public QAccessibleWidget {
  public:
    explicit HiddenAccessible(QWidget* view) : QAccessibleWidget(view, QAccessible::NoRole) {}
    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.invisible = true;
        return s;
    }
};

QAccessibleInterface* toolkitInterface(const QString&, QObject* object) {
    auto* view = qobject_cast<QWidget*>(object);
    if (!view)
        return nullptr;
    if (dynamic_cast<CircleChart*>(view) || dynamic_cast<Bar*>(view))
        return new GaugeAccessible(view);
    if (auto* target = dynamic_cast<Activatable*>(view))
        return new ActivatableAccessible(view, *target);
    if (dynamic_cast<PieChart*>(view) || dynamic_cast<LineChart*>(view))
        return new ChartAccessible(view);
    if (dynamic_cast<Announcer*>(view))
        return new AnnouncerAccessible(view);
    if (dynamic_cast<FocusRing*>(view))
        return new HiddenAccessible(view);
    auto* label = qobject_cast<QLabel*>(view);
    if (label && label->property(kFigureName).isValid())
        return new FigureAccessible(label);
    return nullptr;
}

// The name and value of one child as spoken inside its parent's name.
QString spokenPart(QWidget& child) {
    if (child.isHidden() || child.property(kNotSpoken).toBool() ||
        dynamic_cast<FocusRing*>(&child) || dynamic_cast<Announcer*>(&child))
        return QString();
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(&child);
    if (!face)
        return QString();
    const QString name = face->text(QAccessible::Name);
    if (face->role() == QAccessible::ProgressBar)
        return joinedSpoken(name, face->text(QAccessible::Value));
    if (!name.isEmpty())
        return name;
    QStringList parts;
    for (QObject* grandchild : child.children()) {
        if (auto* widget = qobject_cast<QWidget*>(grandchild)) {
            const QString part = spokenPart(*widget);
            if (!part.isEmpty())
                parts.append(part);
        }
    }
    return parts.join(QStringLiteral(", "));
}

}  // namespace

void registerAccessibleViews() {
    static bool registered = false;
    if (registered)
        return;
    registered = true;
    QAccessible::installFactory(&toolkitInterface);
}

void markFigure(QLabel& label, const QString& name) {
    registerAccessibleViews();
    label.setProperty(kFigureName, name);
    // A name of its own stops QLabel from sending a name change with every new text.
    label.setAccessibleName(name);
    // Setting a text may already have made and kept Qt's own interface for the label.
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(&label);
    if (face && !dynamic_cast<FigureAccessible*>(face))
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(face));
}

bool isFigure(const QLabel& label) {
    return label.property(kFigureName).isValid();
}

void leaveOutOfSpokenName(QWidget& view) {
    view.setProperty(kNotSpoken, true);
}

void noteValueChanged(QWidget& view) {
    if (!QAccessible::isActive())
        return;
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(&view);
    if (!face)
        return;
    QAccessibleValueChangeEvent event(&view, face->text(QAccessible::Value));
    QAccessible::updateAccessibility(&event);
}

QString spokenName(QWidget& view) {
    const QString given = view.accessibleName();
    if (!given.isEmpty())
        return given;
    if (auto* label = qobject_cast<QLabel*>(&view); label && !label->text().isEmpty())
        return spokenFigure(label->text());
    QStringList parts;
    for (QObject* child : view.children()) {
        if (auto* widget = qobject_cast<QWidget*>(child)) {
            const QString part = spokenPart(*widget);
            if (!part.isEmpty())
                parts.append(part);
        }
    }
    return parts.join(QStringLiteral(", "));
}

}  // namespace vigil
