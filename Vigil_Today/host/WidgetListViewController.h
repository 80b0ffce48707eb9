#pragma once

#include <QFrame>
#include <QList>
#include <QMargins>
#include <QPointer>
#include <QVBoxLayout>

#include <functional>

#include "host/ViewController.h"

namespace vigil {

// The panel's list: an ordered `contents` of view controllers, one row each, top to bottom.
// Replacing `contents` is how rows and detail views come and go: views that stay keep their
// place, new ones appear (viewWillAppear/viewDidAppear) and removed ones disappear
// (viewWillDisappear) and are handed back to their controller. Divider lines sit between rows
// when turned on. The list does not own the controllers.
class WidgetListViewController : public ViewController {
  public:
    explicit WidgetListViewController(QObject* parent = nullptr);
    ~WidgetListViewController() override;

    QList<ViewController*> contents() const;
    void setContents(const QList<ViewController*>& contents);

    int minimumVisibleRowCount() const { return minimumVisibleRowCount_; }
    // The list is at least as tall as its first `count` rows.
    void setMinimumVisibleRowCount(int count);
    bool hasDividerLines() const { return hasDividerLines_; }
    void setHasDividerLines(bool on);

    QMargins margins() const { return margins_; }
    void setMargins(const QMargins& margins);

    // Heard after every change of contents (the panel refits its height).
    std::function<void()> onContentsChanged;

    // The divider widgets now shown, top to bottom (for the panel and for checks).
    QList<QFrame*> dividers() const;

  protected:
    QWidget* loadView() override;

  private:
    void relayout();
    void updateMinimumHeight();

    QList<QPointer<ViewController>> contents_;
    QList<QPointer<QWidget>> rowViews_;
    QList<QFrame*> dividers_;
    QPointer<QVBoxLayout> layout_;
    int minimumVisibleRowCount_ = 1;
    bool hasDividerLines_ = true;
    QMargins margins_;
};

}  // namespace vigil
