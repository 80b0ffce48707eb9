// The least a Qt Widgets program costs on the same refresh as the panel: one window holding one
// label whose text changes every 1.1 s, and nothing else. bench/overhead measures it as the floor
// under the widget's figures.

#include <QApplication>
#include <QDateTime>
#include <QLabel>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("bare Qt window"));
    auto* label = new QLabel(&window);
    auto* layout = new QVBoxLayout(&window);
    layout->addWidget(label);

    int ticks = 0;
    const auto refresh = [&] {
        label->setText(
            QStringLiteral("tick %1 at %2")
                .arg(++ticks)
                .arg(QDateTime::currentDateTime().toString(QStringLiteral("hh:mm:ss.zzz"))));
    };
    refresh();
    QTimer timer;
    timer.setInterval(1100);
    QObject::connect(&timer, &QTimer::timeout, &window, refresh);
    timer.start();

    window.resize(320, 80);
    window.show();
    return app.exec();
}
