#include "ui/FigureText.h"

#include <QApplication>
#include <QEvent>
#include <QFontMetrics>
#include <QGridLayout>
#include <QLabel>
#include <QWidget>

#include "support/QtTestApp.h"

namespace vigil {
namespace {

class FigureTextTest : public test::QtTest {};

// Counts the layout passes a widget is asked for.
class LayoutRequests : public QObject {
  public:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::LayoutRequest)
            ++count;
        return false;
    }
    int count = 0;
};

TEST_F(FigureTextTest, NewFiguresRepaintTheLabelWithoutLayingTheParentOutAgain) {
    QWidget panel;
    auto* grid = new QGridLayout(&panel);
    auto* title = new QLabel(QStringLiteral("Memory used"), &panel);
    auto* value = new QLabel(&panel);
    value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    grid->addWidget(title, 0, 0);
    grid->addWidget(value, 0, 1);
    grid->setColumnStretch(0, 1);

    showFigure(*value, QStringLiteral("1.2 GB"));  // not shown yet: laid out as any label
    EXPECT_EQ(value->text(), QStringLiteral("1.2 GB"));
    EXPECT_NE(value->minimumSize(), value->maximumSize());
    panel.resize(300, 40);
    panel.show();
    QApplication::processEvents();

    showFigure(*value, QStringLiteral("1.3 GB"));
    QApplication::processEvents();
    const QRect held = value->geometry();
    LayoutRequests requests;
    panel.installEventFilter(&requests);
    for (const char* figure : {"4.7 GB", "9.9 GB", "1.0 GB", "0.8 GB"}) {
        showFigure(*value, QString::fromLatin1(figure));
        QApplication::processEvents();
        EXPECT_EQ(value->text(), QString::fromLatin1(figure));
        EXPECT_EQ(value->geometry(), held) << figure;
    }
    EXPECT_EQ(requests.count, 0);

    // A wider figure grows the label so that nothing is cut, and keeps its right edge.
    const QString wide = QStringLiteral("12345.67 MB of 98765.43 MB");
    showFigure(*value, wide);
    QApplication::processEvents();
    EXPECT_GE(value->width(), value->fontMetrics().horizontalAdvance(wide));
    EXPECT_EQ(value->geometry().right(), held.right());
    EXPECT_GE(value->height(), held.height());

    // The label does not shrink back: narrower figures again cost no layout pass.
    const QRect grown = value->geometry();
    requests.count = 0;
    showFigure(*value, QStringLiteral("1.1 GB"));
    QApplication::processEvents();
    EXPECT_EQ(value->geometry(), grown);
    EXPECT_EQ(requests.count, 0);
}

}  // namespace
}  // namespace vigil
