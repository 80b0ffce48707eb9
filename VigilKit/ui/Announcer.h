#pragma once

#include <QString>
#include <QWidget>

namespace vigil {

// Says something once to a screen reader: a changed connection, a fired alert. Changes that come
// with every sample are values, not announcements (see noteValueChanged).
//
// An announcement is an alert message: a child of the window that has no size and draws
// nothing, shown with the message as its name (assistive technologies read an alert as it
// shows) and hidden again after kShownMs.
class Announcer : public QWidget {
  public:
    static constexpr int kShownMs = 4000;

    // Announces in the window of `view`. A message equal to the one still shown is not repeated.
    static void announce(QWidget& view, const QString& message);
    // The window's announcer, if it announced anything yet.
    static Announcer* of(const QWidget& view);

    // The last message announced.
    QString message() const { return message_; }

  private:
    explicit Announcer(QWidget& window);
    void say(const QString& message);

    QString message_;
    int hideTimer_ = 0;

  protected:
    void timerEvent(QTimerEvent* event) override;
};

}  // namespace vigil
