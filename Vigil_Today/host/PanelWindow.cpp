#include "host/PanelWindow.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>
#include <cstdio>

#include "host/WidgetListViewController.h"

namespace vigil {

namespace {

void noteCompositorPlacesOnce() {
    static bool said = false;
    if (said)
        return;
    said = true;
    std::fprintf(stderr,
                 "Vigil: the Wayland compositor places the panel; its position is not "
                 "remembered\n");
}

}  // namespace

PanelWindow::PanelWindow(WidgetProviding& controller, PanelPlaceStore& places, QWidget* parent)
    : QWidget(parent), controller_(controller), places_(places) {
    setWindowTitle(QStringLiteral("Vigil"));
    setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    setFixedWidth(kWidth);
    setAutoFillBackground(true);
    saveTimer_.setSingleShot(true);
    saveTimer_.setInterval(kSaveDelayMs);
    QObject::connect(&saveTimer_, &QTimer::timeout, this, [this] { savePlaceNow(); });

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(1, 1, 1, 1);
    outer->setSpacing(0);

    header_ = new QWidget(this);
    header_->setObjectName(QStringLiteral("panelHeader"));
    auto* headerLayout = new QHBoxLayout(header_);
    headerLayout->setContentsMargins(12, 6, 8, 6);
    auto* title = new QLabel(QStringLiteral("Vigil"), header_);
    QFont titleFont = title->font();
    titleFont.setBold(true);
    title->setFont(titleFont);
    headerLayout->addWidget(title);
    headerLayout->addStretch(1);
    editButton_ = new QPushButton(QStringLiteral("Edit"), header_);
    editButton_->setObjectName(QStringLiteral("editButton"));
    editButton_->setFlat(true);
    editButton_->setCursor(Qt::PointingHandCursor);
    editButton_->setVisible(controller_.widgetAllowsEditing());
    QObject::connect(editButton_, &QPushButton::clicked, this, [this] { toggleEditing(); });
    headerLayout->addWidget(editButton_);
    outer->addWidget(header_);

    scroll_ = new QScrollArea(this);
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setWidgetResizable(true);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // The panel sets its own height from the list's; the scroll area has no minimum of its own.
    scroll_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Ignored);
    outer->addWidget(scroll_, 1);

    if (WidgetListViewController* list = controller_.listViewController()) {
        applyMargins();
        scroll_->setWidget(list->view());
        list->onContentsChanged = [this] { fitToContents(); };
    }
    fitToContents();
}

PanelWindow::~PanelWindow() {
    if (saveTimer_.isActive())
        savePlaceNow();
    // The list's view belongs to the list controller, not to the scroll area.
    if (scroll_ && scroll_->widget()) {
        QWidget* list = scroll_->takeWidget();
        list->hide();
        list->setParent(nullptr);
    }
    if (WidgetListViewController* list = controller_.listViewController()) {
        list->onContentsChanged = nullptr;
    }
}

void PanelWindow::applyMargins() {
    WidgetListViewController* list = controller_.listViewController();
    if (!list)
        return;
    const QMargins margins = controller_.widgetMarginInsets(kProposedMargins);
    list->setMargins(QMargins(std::max(0, margins.left()), std::max(0, margins.top()),
                              std::max(0, margins.right()), std::max(0, margins.bottom())));
}

void PanelWindow::beginEditing() {
    if (editing_ || !controller_.widgetAllowsEditing())
        return;
    editing_ = true;
    editButton_->setText(QStringLiteral("Done"));
    controller_.widgetDidBeginEditing();
}

void PanelWindow::endEditing() {
    if (!editing_)
        return;
    editing_ = false;
    editButton_->setText(QStringLiteral("Edit"));
    controller_.widgetDidEndEditing();
}

void PanelWindow::toggleEditing() {
    if (editing_) {
        endEditing();
    } else {
        beginEditing();
    }
}

bool PanelWindow::compositorPlacesWindows() {
    return QGuiApplication::platformName().startsWith(QStringLiteral("wayland"));
}

QPoint PanelWindow::startPlace() const {
    if (const auto saved = places_.loadPlace()) {
        const QRect panel(*saved, QSize(kWidth, std::max(40, header_->sizeHint().height())));
        for (QScreen* screen : QGuiApplication::screens()) {
            if (screen->availableGeometry().contains(panel))
                return *saved;
        }
    }
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return QPoint(0, 0);
    const QRect area = screen->availableGeometry();
    return QPoint(area.right() + 1 - kWidth - kScreenMargin, area.top() + kScreenMargin);
}

void PanelWindow::setPanelVisible(bool visible) {
    if (!visible) {
        hide();
        return;
    }
    if (!placed_) {
        placed_ = true;
        if (compositorPlacesWindows()) {
            noteCompositorPlacesOnce();
        } else {
            placing_ = true;
            move(startPlace());
            placing_ = false;
        }
    }
    fitToContents();
    show();
    raise();
    activateWindow();
    controller_.widgetPerformUpdate(nullptr);
}

void PanelWindow::togglePanel() {
    setPanelVisible(!isVisible());
}

void PanelWindow::fitToContents() {
    int listHeight = 0;
    if (scroll_ && scroll_->widget()) {
        QWidget* list = scroll_->widget();
        // Rows just added or removed: bring the layout's figures up to date before reading them.
        if (list->layout())
            list->layout()->activate();
        listHeight = std::max(list->sizeHint().height(), list->minimumHeight());
    }
    if (layout())
        layout()->activate();
    int height = header_->sizeHint().height() + listHeight + 2;
    QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    if (screen)
        height = std::min(height, screen->availableGeometry().height() - 2 * kScreenMargin);
    resize(kWidth, std::max(height, header_->sizeHint().height() + 2));
}

void PanelWindow::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return;
    if (!windowHandle() || !windowHandle()->startSystemMove()) {
        dragOffset_ = event->globalPosition().toPoint() - frameGeometry().topLeft();
    }
}

void PanelWindow::mouseMoveEvent(QMouseEvent* event) {
    if (dragOffset_ && (event->buttons() & Qt::LeftButton)) {
        move(event->globalPosition().toPoint() - *dragOffset_);
    }
}

void PanelWindow::mouseReleaseEvent(QMouseEvent*) {
    dragOffset_.reset();
}

void PanelWindow::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    if (placing_ || !isVisible() || compositorPlacesWindows())
        return;
    // A drag moves the window many times: remember where it comes to rest.
    saveTimer_.start();
}

void PanelWindow::savePlaceNow() {
    saveTimer_.stop();
    if (compositorPlacesWindows())
        return;
    if (places_.loadPlace() != pos())
        places_.savePlace(pos());
}

void PanelWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QColor border = palette().color(QPalette::WindowText);
    border.setAlphaF(0.25f);
    painter.setPen(border);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

}  // namespace vigil
