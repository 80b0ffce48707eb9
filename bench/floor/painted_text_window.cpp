// A second floor, leaner than the bare label window: one widget that paints its own text and asks
// for a repaint every 1.1 s, with no label and no layout. Run it with
// `bench/overhead --floor --floor-program build/release/bench/floor_painted_text_window`; if it
// costs about what the label window does, the floor is Qt's event loop, X and text drawing, not
// the label's layout.

#include <QApplication>
#include <QPainter>
#include <QWidget>

#include "TickingText.h"

namespace {

class PaintedText : public QWidget {
  public:
    void setText(const QString& text) {
        text_ = text;
        update();
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.drawText(rect(), Qt::AlignCenter, text_);
    }

  private:
    QString text_;
};

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    PaintedText window;
    window.setWindowTitle(QStringLiteral("painted text window"));
    showTickingText(&window, [&window](const QString& text) { window.setText(text); });

    window.resize(320, 80);
    window.show();
    return app.exec();
}
