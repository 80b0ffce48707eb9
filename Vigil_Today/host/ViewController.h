#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

#include "runtime/Trackable.h"

namespace vigil {

// One row of the panel (or anything else that owns a view). The view is made on first use by
// loadView(); the list calls the appearance hooks as it shows and removes the view. The
// controller owns its view while it is not in a list, and deletes it when it goes.
class ViewController : public QObject, public Trackable {
  public:
    explicit ViewController(QObject* parent = nullptr);
    ~ViewController() override;

    QWidget* view();
    bool isViewLoaded() const { return view_ != nullptr; }

    virtual void viewWillAppear() {}
    virtual void viewDidAppear() {}
    virtual void viewWillDisappear() {}

  protected:
    // Builds the view; the default is an empty widget.
    virtual QWidget* loadView();
    // Called once, right after loadView().
    virtual void viewDidLoad() {}

  private:
    QPointer<QWidget> view_;
};

}  // namespace vigil
