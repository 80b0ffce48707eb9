#pragma once

class QKeyEvent;
class QWidget;

namespace vigil {

// A view that does something when clicked: a button, a link, a row that opens its details. The
// keyboard (Enter, Return, Space) and assistive technologies (the accessible "Press" action)
// activate it as a click does.
class Activatable {
  public:
    virtual ~Activatable() = default;
    virtual void activate() = 0;
    // Whether activating does anything now; a view that cannot is no keyboard stop.
    virtual bool canActivate() const { return true; }
};

// Makes the view a keyboard stop: Tab and the arrow keys reach it (a mouse click does not give
// it focus, so no ring is left behind after a click) and a focus ring shows while it has focus.
void makeKeyboardStop(QWidget& view);

// The keys every activatable view answers: Enter, Return and Space activate it; the arrow keys
// move the focus to the previous (left, up) or next (right, down) stop in reading order. True
// when the key was used; the caller passes any other key on.
bool handleActivationKey(QWidget& view, QKeyEvent& event, Activatable& target);

}  // namespace vigil
