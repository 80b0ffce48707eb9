#pragma once

#include <QBoxLayout>
#include <QPointer>
#include <QWidget>

#include <functional>

#include "ui/Activatable.h"

namespace vigil {

// A stack of views that runs `onclick` when pressed; the press goes no further, so a stack
// without `onclick` swallows it silently. A stack that has `onclick` when it is first shown is a
// keyboard stop with a focus ring; Enter or Space runs `onclick`. Screen readers see a button
// named after its views (see spokenName), or its accessibleName when set.
class CallbackStackView : public QWidget, public Activatable {
  public:
    explicit CallbackStackView(Qt::Orientation orientation = Qt::Vertical,
                               QWidget* parent = nullptr);

    std::function<void()> onclick;

    // Stack operations: append, remove (the view is hidden and left to its owner), and
    // visibility priority (1000 shows the view, 0 hides it).
    void addView(QWidget* view);
    void removeView(QWidget* view);
    void setVisibilityPriority(int priority, QWidget* view);
    QList<QWidget*> views() const;
    QBoxLayout* stackLayout() const { return layout_; }

    void activate() override;
    bool canActivate() const override { return bool(onclick); }

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

  private:
    QPointer<QBoxLayout> layout_;
};

}  // namespace vigil
