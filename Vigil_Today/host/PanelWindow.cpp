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

#include "C/system/ErrorReport.h"
#include "host/PanelMenu.h"
#include "host/WidgetListViewController.h"

namespace vigil {

namespace {

void noteCompositorPlacesOnce() {
    static bool said = false;
    if (said)
        return;
    said = true;
    ErrorReport::shared().note(
        "on Wayland without an X server the panel is a normal window: it cannot stay on top, "
        "and the compositor places it (its place is not remembered)");
}

// Only X11 lets a program raise and focus its own window; elsewhere Qt says it cannot.
bool windowsCanBeRaised() {
    return QGuiApplication::platformName() == QStringLiteral("xcb");
}

// A tool window: no taskbar entry, and kept above the others. Rendered into a picture only, there
// is nothing to stack (and Qt would warn that it cannot raise a tool window as it shows).
Qt::WindowFlags windowFlagsHere() {
    const Qt::WindowFlags flags = Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint;
    if (QGuiApplication::platformName() == QStringLiteral("offscreen"))
        return flags;
    return flags | Qt::Tool;
}

}  // namespace

PanelWindow::PanelWindow(WidgetProviding& controller, PanelPlaceStore& places, QWidget* parent)
    : QWidget(parent), controller_(controller), places_(places) {
    setWindowTitle(QStringLiteral("Vigil"));
    setWindowFlags(windowFlagsHere());
    setFixedWidth(kWidth);
    setAutoFillBackground(true);
    saveTimer_.setSingleShot(true);
    saveTimer_.setInterval(kSaveDelayMs);
    QObject::connect(&saveTimer_, &QTimer::timeout, this, [this] { savePlaceNow(); });

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(1, 1, 1, 1);
    outer->setSpacing(0);

    header_ = makeHeader();
    outer->addWidget(header_);

    scroll_ = new QScrollArea(this);
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setWidgetResizable(true);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Tab goes from the header straight to the first row's gauges.
    scroll_->setFocusPolicy(Qt::NoFocus);
    // The panel sets its own height from the list's; the scroll area has no minimum of its own.
    scroll_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Ignored);
    outer->addWidget(scroll_, 1);

    if (WidgetListViewController* list = controller_.listViewController()) {
        applyMargins();
        scroll_->setWidget(list->view());
        list->onContentsChanged = [this] { fitToContents(); };
    }
    menu_ = std::make_unique<PanelMenu>(*this);
    controller_.onPanelColorsChanged = [this] { applyColors(); };
    applyColors();
    fitToContents();
}

QWidget* PanelWindow::makeHeader() {
    auto* header = new QWidget(this);
    header->setObjectName(QStringLiteral("panelHeader"));
    header->setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(header, &QWidget::customContextMenuRequested, this,
                     [this](const QPoint& point) { openMenuAt(point); });
    auto* layout = new QHBoxLayout(header);
    layout->setContentsMargins(12, 6, 6, 6);
    layout->setSpacing(4);
    auto* title = new QLabel(QStringLiteral("Vigil"), header);
    QFont titleFont = title->font();
    titleFont.setBold(true);
    title->setFont(titleFont);
    layout->addWidget(title);
    layout->addStretch(1);
    editButton_ = new QPushButton(QStringLiteral("Edit"), header);
    editButton_->setObjectName(QStringLiteral("editButton"));
    editButton_->setFlat(true);
    editButton_->setCursor(Qt::PointingHandCursor);
    editButton_->setVisible(controller_.widgetAllowsEditing());
    QObject::connect(editButton_, &QPushButton::clicked, this, [this] { toggleEditing(); });
    layout->addWidget(editButton_);
    hideButton_ = new QToolButton(header);
    hideButton_->setObjectName(QStringLiteral("hideButton"));
    hideButton_->setText(QStringLiteral("\u00D7"));
    hideButton_->setAccessibleName(QStringLiteral("Hide Vigil"));
    hideButton_->setAutoRaise(true);
    hideButton_->setCursor(Qt::PointingHandCursor);
    hideButton_->setToolTip(
        QStringLiteral("Hide Vigil (start it again, or run Vigil_Today --toggle, to show it)"));
    QObject::connect(hideButton_, &QToolButton::clicked, this, [this] { setPanelVisible(false); });
    layout->addWidget(hideButton_);
    return header;
}

void PanelWindow::keyPressEvent(QKeyEvent* event) {
    const bool menuKey = event->key() == Qt::Key_Menu ||
                         (event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier);
    if (menuKey) {
        openMenuAt(QPoint(header_->width() / 2, header_->height()));
        return;
    }
    if (event->key() == Qt::Key_Escape && controller_.widgetCloseDetails()) {
        // The focus was likely inside the details just closed: start again at the first stop.
        if (!focusWidget() || !focusWidget()->isVisible())
            focusNextChild();
        return;
    }
    QWidget::keyPressEvent(event);
}

void PanelWindow::openMenuAt(const QPoint& headerPoint) {
    menu_->refresh();
    menu_->menu()->popup(header_->mapToGlobal(headerPoint));
}

void PanelWindow::applyColors() {
    const PanelColors colors = controller_.widgetPanelColors();
    QPalette palette = this->palette();
    for (auto role : {QPalette::Window, QPalette::Base, QPalette::Button})
        palette.setColor(role, colors.background);
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        palette.setColor(role, colors.text);
    setPalette(palette);
    // The header's menu is a window of its own and would keep the desktop's colours.
    menu_->menu()->setPalette(palette);
    update();
}

PanelWindow::~PanelWindow() {
    controller_.onPanelColorsChanged = nullptr;
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
    if (windowsCanBeRaised()) {
        raise();
        activateWindow();
    }
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
