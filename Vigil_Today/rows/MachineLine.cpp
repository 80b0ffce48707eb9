#include "rows/MachineLine.h"

#include <QGridLayout>
#include <QMouseEvent>

#include "rows/RowStyle.h"

namespace vigil {

MachineLine::MachineLine(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("machineLine"));
    setCursor(Qt::PointingHandCursor);
    auto* layout = new QGridLayout(this);
    layout->setContentsMargins(16, 2, 16, 2);
    layout->setHorizontalSpacing(8);
    layout->setVerticalSpacing(0);
    dot_ = new Circle(this);
    dot_->setFixedSize(8, 8);
    name_ = makeRowLabel(QString(), 12, this);
    name_->setObjectName(QStringLiteral("machineName"));
    figures_ = makeRowLabel(QString(), 10, this);
    figures_->setObjectName(QStringLiteral("machineFigures"));
    rates_ = makeRowLabel(QString(), 10, this);
    rates_->setObjectName(QStringLiteral("machineRates"));
    rates_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    // Long names give way to the rates, not the other way round.
    name_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    figures_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    layout->addWidget(dot_, 0, 0, 2, 1, Qt::AlignVCenter);
    layout->addWidget(name_, 0, 1);
    layout->addWidget(rates_, 0, 2);
    // The figures have the whole width under the name and rates.
    layout->addWidget(figures_, 1, 1, 1, 2);
    layout->setColumnStretch(1, 1);
}

void MachineLine::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) &&
        onclick)
        onclick();
}

}  // namespace vigil
