#include "themes/Theme.h"

#include <QLineEdit>
#include <QPalette>
#include <QVariantAnimation>

#include <cstdio>

#include "C/system/ErrorReport.h"
#include "settings/WidgetDefaults.h"
#include "ui/FUIColor.h"

namespace vigil {

namespace {

constexpr const char* kBackgroundProperty = "vigilThemeBackground";
constexpr const char* kBackgroundAnimation = "backgroundColor";

void setTextColor(QWidget* field, const QColor& color) {
    QPalette palette = field->palette();
    palette.setColor(QPalette::WindowText, color);
    palette.setColor(QPalette::Text, color);
    field->setPalette(palette);
}

void paintBackground(QWidget* view, const QColor& color) {
    if (color.alpha() == 0) {
        view->setAutoFillBackground(false);
    } else {
        QPalette palette = view->palette();
        palette.setColor(QPalette::Window, color);
        view->setPalette(palette);
        view->setAutoFillBackground(true);
    }
    view->update();
}

// What the view draws now: its stored colour, or nothing.
QColor drawnBackground(const QWidget* view) {
    if (!view->autoFillBackground())
        return QColor(0, 0, 0, 0);
    return view->palette().color(QPalette::Window);
}

}  // namespace

void Theme::updateText(QWidget* view) const {
    if (view == nullptr)
        return;
    if (qobject_cast<QLabel*>(view) != nullptr || qobject_cast<QLineEdit*>(view) != nullptr) {
        if (dynamic_cast<TitleField*>(view) != nullptr) {
            setTextColor(view, titleLabelColor);
        } else if (dynamic_cast<NoThemeField*>(view) == nullptr) {
            setTextColor(view, labelColor);
        }
    }
    for (QObject* child : view->children()) {
        if (auto* widget = qobject_cast<QWidget*>(child))
            updateText(widget);
    }
}

void Theme::updateBackgroundColor(QWidget* view) const {
    if (view == nullptr)
        return;
    const QColor from = drawnBackground(view);
    QColor to = backgroundColor.value_or(QColor(0, 0, 0, 0));
    if (!backgroundColor) {
        // Fade the hue we come from down to nothing, rather than through black.
        to = from;
        to.setAlpha(0);
    }
    const QColor start =
        from.alpha() == 0 && backgroundColor
            ? QColor(backgroundColor->red(), backgroundColor->green(), backgroundColor->blue(), 0)
            : from;

    view->setProperty(kBackgroundProperty,
                      backgroundColor ? QVariant::fromValue(*backgroundColor) : QVariant());

    // One fade per view: a new one replaces the running one.
    for (auto* old :
         view->findChildren<QVariantAnimation*>(kBackgroundAnimation, Qt::FindDirectChildrenOnly)) {
        old->stop();
        old->deleteLater();
    }
    auto* animation = new QVariantAnimation(view);
    animation->setObjectName(kBackgroundAnimation);
    animation->setDuration(kBackgroundFadeMs);
    animation->setStartValue(start);
    animation->setEndValue(to);
    QObject::connect(
        animation, &QVariantAnimation::valueChanged, view,
        [view](const QVariant& value) { paintBackground(view, value.value<QColor>()); });
    const std::optional<QColor> final = backgroundColor;
    QObject::connect(animation, &QVariantAnimation::finished, view,
                     [view, final] { paintBackground(view, final.value_or(QColor(0, 0, 0, 0))); });
    paintBackground(view, start);
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

// The flat palette's green, orange and blue are too light to read on the light panel, and its red
// and blue too dark on the dark one (WCAG AA: 4.5:1 for text, 3:1 for a gauge's arc against its
// track). These are the same hues, darkened or lightened until they pass; the status colours are
// also text (a battery's health, a disk's error), so they are held to 4.5:1 as well.
namespace {
QColor readableGreenOnLight() {
    return colorRGBA(27, 125, 68);
}
QColor readableOrangeOnLight() {
    return colorRGBA(160, 92, 0);
}
QColor readableBlueOnLight() {
    return colorRGBA(31, 105, 154);
}
QColor readableRedOnDark() {
    return colorRGBA(255, 140, 125);
}
QColor readableBlueOnDark() {
    return colorRGBA(104, 180, 232);
}
}  // namespace

const Themes& Themes::light() {
    static const Themes theme{{
        .isDark = false,
        .backgroundColor = std::nullopt,
        .controllerColor = FUIColor::wetAsphalt(),
        .labelColor = FUIColor::black(),
        .titleLabelColor = FUIColor::wetAsphalt(),
        .infoColor = readableBlueOnLight(),
        .successColor = readableGreenOnLight(),
        .warningColor = readableOrangeOnLight(),
        .dangerColor = FUIColor::pomegranate(),
        .muteColor = FUIColor::silver(),
    }};
    return theme;
}

const Themes& Themes::dark() {
    static const Themes theme{{
        .isDark = true,
        .backgroundColor = FUIColor::midnightBlue(),
        .controllerColor = FUIColor::clouds(),
        .labelColor = FUIColor::clouds(),
        .titleLabelColor = FUIColor::silver(),
        .infoColor = readableBlueOnDark(),
        .successColor = FUIColor::emerald(),
        .warningColor = FUIColor::sunflower(),
        .dangerColor = readableRedOnDark(),
        .muteColor = FUIColor::silver(),
    }};
    return theme;
}

std::optional<QColor> backgroundColorOf(const QWidget* view) {
    if (view == nullptr)
        return std::nullopt;
    const QVariant value = view->property(kBackgroundProperty);
    if (!value.isValid())
        return std::nullopt;
    return value.value<QColor>();
}

QColor textColorOf(const QWidget* field) {
    if (qobject_cast<const QLineEdit*>(field) != nullptr)
        return field->palette().color(QPalette::Text);
    return field->palette().color(QPalette::WindowText);
}

ThemeManager& ThemeManager::shared() {
    static ThemeManager* manager = new ThemeManager(Defaults::shared());
    return *manager;
}

ThemeManager::ThemeManager(Defaults& defaults) : themes{Themes::light(), Themes::dark()} {
    const int64_t index = defaults.get(WidgetDefaultsKeys::theme());
    if (index < 0 || index >= static_cast<int64_t>(themes.size())) {
        ErrorReport::shared().note("the stored theme " + std::to_string(index) +
                                   " names no theme; using the light one");
    }
    activeTheme_ = themeAt(index);
}

void ThemeManager::setActiveTheme(const Theme& theme) {
    activeTheme_ = theme;
    onThemeChange.fire(activeTheme_);
}

const Themes& ThemeManager::themeAt(int64_t index) const {
    if (index < 0 || index >= static_cast<int64_t>(themes.size()))
        return themes.front();
    return themes[static_cast<size_t>(index)];
}

}  // namespace vigil
