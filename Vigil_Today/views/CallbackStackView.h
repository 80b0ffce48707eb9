#pragma once

#include <QBoxLayout>
#include <QPointer>
#include <QWidget>

#include <functional>

namespace vigil {

// A stack of views that runs `onclick` when pressed; the press goes no further, so a stack
// without `onclick` swallows it silently.
class CallbackStackView : public QWidget {
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

  protected:
    void mousePressEvent(QMouseEvent* event) override;

  private:
    QPointer<QBoxLayout> layout_;
};

}  // namespace vigil
