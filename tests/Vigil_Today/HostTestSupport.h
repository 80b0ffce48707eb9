#pragma once

#include <QLabel>

#include "host/ViewController.h"
#include "host/WidgetListViewController.h"
#include "host/WidgetProviding.h"

namespace vigil::test {

// A row of fixed height that counts its appearance hooks.
class TestRow : public ViewController {
  public:
    explicit TestRow(QString text, int height = 40) : text_(std::move(text)), height_(height) {}

    int willAppear = 0;
    int didAppear = 0;
    int willDisappear = 0;

    void viewWillAppear() override { ++willAppear; }
    void viewDidAppear() override { ++didAppear; }
    void viewWillDisappear() override { ++willDisappear; }

  protected:
    QWidget* loadView() override {
        auto* label = new QLabel(text_);
        label->setFixedHeight(height_);
        label->setObjectName(text_);
        return label;
    }

  private:
    QString text_;
    int height_;
};

// A principal controller that records what the panel asks of it.
class TestWidget : public WidgetProviding {
  public:
    WidgetListViewController list;
    bool allowsEditing = true;
    QMargins margins;
    int began = 0;
    int ended = 0;
    int updates = 0;
    std::optional<QMargins> proposed;

    WidgetListViewController* listViewController() override { return &list; }
    void widgetPerformUpdate(std::function<void(UpdateResult)> completion) override {
        ++updates;
        if (completion)
            completion(UpdateResult::newData);
    }
    QMargins widgetMarginInsets(const QMargins& proposal) override {
        proposed = proposal;
        return margins;
    }
    bool widgetAllowsEditing() const override { return allowsEditing; }
    void widgetDidBeginEditing() override { ++began; }
    void widgetDidEndEditing() override { ++ended; }
};

}  // namespace vigil::test
