#include "host/ViewController.h"

namespace vigil {

ViewController::ViewController(QObject* parent) : QObject(parent) {}

ViewController::~ViewController() {
    delete view_.data();
}

QWidget* ViewController::view() {
    if (!view_) {
        view_ = loadView();
        viewDidLoad();
    }
    return view_;
}

QWidget* ViewController::loadView() {
    return new QWidget();
}

}  // namespace vigil
