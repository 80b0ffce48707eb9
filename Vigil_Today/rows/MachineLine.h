#pragma once

#include <QLabel>
#include <QPointer>
#include <QWidget>

#include <functional>

#include "ui/Shape.h"

namespace vigil {

// One machine's line in the Machines row: a state dot, the name with the rates at its right, and
// the figures (or the state) under both. Clicking it runs onclick.
class MachineLine : public QWidget {
  public:
    explicit MachineLine(QWidget* parent = nullptr);

    std::function<void()> onclick;

    Circle* dot() const { return dot_; }
    QLabel* name() const { return name_; }
    QLabel* figures() const { return figures_; }
    QLabel* rates() const { return rates_; }

  protected:
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    QPointer<Circle> dot_;
    QPointer<QLabel> name_;
    QPointer<QLabel> figures_;
    QPointer<QLabel> rates_;
};

}  // namespace vigil
