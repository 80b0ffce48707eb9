#pragma once

#include <QColor>
#include <QLabel>
#include <QWidget>

#include <cstdint>
#include <optional>
#include <vector>

#include "runtime/Signal.h"

namespace vigil {

class Defaults;

// A colour theme: ten fixed values. Main thread only.
struct Theme {
    bool isDark = false;
    // None: the host's own background shows through.
    std::optional<QColor> backgroundColor;
    QColor controllerColor;
    QColor labelColor;
    QColor titleLabelColor;
    QColor infoColor;
    QColor successColor;
    QColor warningColor;
    QColor dangerColor;
    QColor muteColor;

    // How long updateBackgroundColor() fades.
    static constexpr int kBackgroundFadeMs = 350;

    // Recolours the text fields of the tree under `view` (any depth): a TitleField takes
    // titleLabelColor, a NoThemeField keeps its colour, any other label or line edit takes
    // labelColor. Other widgets are left alone. Nothing happens for a null view.
    void updateText(QWidget* view) const;
    // Fades the view's background from the colour it has now to backgroundColor (none fades to
    // transparent and then paints no background at all). The final colour is the view's at once
    // (see backgroundColorOf); only the drawing follows the fade.
    void updateBackgroundColor(QWidget* view) const;

    bool operator==(const Theme&) const = default;
};

// The two themes of the widget, made once on first use.
struct Themes : Theme {
    static const Themes& light();
    static const Themes& dark();
};

// Marks a label that takes the theme's title colour.
class TitleField : public QLabel {
  public:
    using QLabel::QLabel;
};

// Marks a label whose colour the theme never changes.
class NoThemeField : public QLabel {
  public:
    using QLabel::QLabel;
};

// The background colour that updateBackgroundColor() gave the view last (none: never set, or set
// to none).
std::optional<QColor> backgroundColorOf(const QWidget* view);
// The text colour of a label or line edit.
QColor textColorOf(const QWidget* field);

// The themes and the active one, chosen by the "theme" setting.
class ThemeManager {
  public:
    // The program's instance, made on first use from the shared settings store.
    static ThemeManager& shared();

    // Starts with the theme whose index the store's "theme" setting holds (light when absent or
    // out of range). Fires nothing.
    explicit ThemeManager(Defaults& defaults);
    ThemeManager(const ThemeManager&) = delete;
    ThemeManager& operator=(const ThemeManager&) = delete;

    // Fired with the new theme after every assignment of activeTheme, equal or not.
    Signal<Theme> onThemeChange;
    // light, then dark; the index is the value of the "theme" setting.
    const std::vector<Themes> themes;

    const Theme& activeTheme() const { return activeTheme_; }
    void setActiveTheme(const Theme& theme);

    // The theme at a stored index; light for an index outside the list.
    const Themes& themeAt(int64_t index) const;

  private:
    Theme activeTheme_;
};

}  // namespace vigil
