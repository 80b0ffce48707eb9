#pragma once

#include <QWidget>

namespace vigil {

// The visible mark of keyboard focus: a rounded outline drawn over a view while it has focus.
// It is a child laid over the whole view that takes no mouse input, so any view gets a ring
// without drawing one itself. Its colour is the view's text colour (QPalette::WindowText), which
// each theme sets to contrast with its background, so the ring shows in both themes.
class FocusRing : public QWidget {
  public:
    static constexpr double kLineWidth = 2.0;
    static constexpr double kRadius = 5.0;

    // Adds a ring to the view once; later calls return the same ring.
    static FocusRing& attach(QWidget& view);
    // The ring of the view, if it has one.
    static FocusRing* of(const QWidget& view);

    // Whether the ring is drawn now (its view has focus).
    bool isShown() const { return isVisible(); }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    explicit FocusRing(QWidget& view);
    void follow();

    QWidget& view_;
};

}  // namespace vigil
