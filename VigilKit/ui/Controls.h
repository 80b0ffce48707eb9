#pragma once

#include <QColor>
#include <QLabel>
#include <QPointer>
#include <QString>
#include <QVariantAnimation>
#include <QWidget>

#include <functional>
#include <optional>

#include "runtime/Signal.h"
#include "ui/Activatable.h"

namespace vigil {

// A flat button with rounded corners whose background animates (0.25 s) to a lighter colour on
// hover and a darker one while pressed. Releasing inside fires onClicked; releasing outside or a
// disabled button fires nothing. Enter or Space on the focused button clicks it.
class FUIButton : public QWidget, public Activatable {
  public:
    static constexpr int kAnimationMs = 250;
    static constexpr double kBlendFraction = 0.15;

    explicit FUIButton(QWidget* parent = nullptr);

    // The label shown as the button's title (not owned).
    QPointer<QLabel> title;

    double borderRadius() const { return borderRadius_; }
    void setBorderRadius(double radius);
    QColor backgroundColor() const { return backgroundColor_; }
    // Shown at once, without animation.
    void setBackgroundColor(const QColor& color);

    QColor hoverColor() const;
    QColor pressedColor() const;
    // The colour drawn now (mid-animation, the animated value).
    QColor currentColor() const { return current_; }
    // The colour the button settles on.
    QColor targetColor() const { return target_; }
    bool mouseInside() const { return mouseInside_; }

    // Animates from the colour drawn now to `color` and keeps it afterwards.
    void aimateBackgroundColor(const QColor& color);

    Signal<> onClicked;

    void activate() override { onClicked.fire(); }
    bool canActivate() const override { return isEnabled(); }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    double borderRadius_ = 4.0;
    QColor backgroundColor_;
    QColor current_;
    QColor target_;
    bool mouseInside_ = false;
    QPointer<QVariantAnimation> animation_;
};

// A text label that behaves like a hyperlink: hover and press colours, the pointing-hand cursor,
// and a click (or Enter on the focused link) opens `url` off the main thread.
class FUILink : public QLabel, public Activatable {
  public:
    using Opener = std::function<void(const QString& url)>;

    explicit FUILink(QWidget* parent = nullptr);

    std::optional<QString> url;
    std::optional<QColor> activeColor;
    std::optional<QColor> hoverColor;

    QColor textColor() const;
    void setTextColor(const QColor& color);

    // How a click opens the address. The default checks it (an absolute URL with a scheme;
    // anything else gives one error line) and hands it to xdg-open on the background queue.
    void setOpener(Opener opener) { opener_ = std::move(opener); }
    static void openInBackground(const QString& url);

    void activate() override;
    bool canActivate() const override { return url.has_value() && bool(opener_); }

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    std::optional<QColor> savedTextColor_;
    Opener opener_;
};

// The text as an encoded absolute address (a URL with a scheme), or none with one error line
// naming `what` on stderr.
std::optional<QString> checkedAddress(const QString& text, const char* what);

// A filled circle that shows an on/off state and reports clicks through onClicked. Clicking does
// not change the state; the listener decides. Enter or Space on the focused indicator clicks it.
class FUIIndicator : public QWidget, public Activatable {
  public:
    explicit FUIIndicator(QWidget* parent = nullptr);

    Signal<> onClicked;

    QColor activeColor() const { return activeColor_; }
    void setActiveColor(const QColor& color);
    QColor inactiveColor() const { return inactiveColor_; }
    void setInactiveColor(const QColor& color);
    bool isActive() const { return isActive_; }
    void setIsActive(bool active);

    void activate() override { onClicked.fire(); }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    QColor activeColor_;
    QColor inactiveColor_;
    bool isActive_ = false;
    bool pressed_ = false;
};

}  // namespace vigil
