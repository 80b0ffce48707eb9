// The least a Qt Widgets program costs on the same refresh as the panel: one window holding one
// label whose text changes every 1.1 s, and nothing else. bench/overhead measures it as the floor
// under the widget's figures.

#include <QApplication>
#include <QLabel>
#include <QVBoxLayout>
#include <QWidget>

#include "TickingText.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("bare Qt window"));
    auto* label = new QLabel(&window);
    auto* layout = new QVBoxLayout(&window);
    layout->addWidget(label);
    showTickingText(&window, [label](const QString& text) { label->setText(text); });

    window.resize(320, 80);
    window.show();
    return app.exec();
}
