#include "ui/Controls.h"

#include <QEnterEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QProcess>
#include <QUrl>

#include <cstdio>

#include "C/system/ErrorReport.h"
#include "runtime/Queue.h"
#include "ui/FUIColor.h"

namespace vigil {

// ---- FUIButton ----

FUIButton::FUIButton(QWidget* parent)
    : QWidget(parent), backgroundColor_(colorRGBA(26, 188, 156, 1.0)) {
    current_ = target_ = backgroundColor_;
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_Hover);
    setCursor(Qt::PointingHandCursor);
    makeKeyboardStop(*this);
}

void FUIButton::setBorderRadius(double radius) {
    borderRadius_ = radius;
    update();
}

void FUIButton::setBackgroundColor(const QColor& color) {
    backgroundColor_ = color;
    if (animation_)
        animation_->stop();
    current_ = target_ = color;
    update();
}

QColor FUIButton::hoverColor() const {
    return blendedColor(backgroundColor_, kBlendFraction, FUIColor::white());
}

QColor FUIButton::pressedColor() const {
    return blendedColor(backgroundColor_, kBlendFraction, FUIColor::black());
}

void FUIButton::aimateBackgroundColor(const QColor& color) {
    if (animation_)
        animation_->stop();
    target_ = color;
    auto* animation = new QVariantAnimation(this);
    animation->setStartValue(current_);
    animation->setEndValue(color);
    animation->setDuration(kAnimationMs);
    QObject::connect(animation, &QVariantAnimation::valueChanged, this, [this](const QVariant& v) {
        current_ = v.value<QColor>();
        update();
    });
    QObject::connect(animation, &QVariantAnimation::finished, this, [this, color] {
        current_ = color;
        update();
    });
    animation_ = animation;
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

void FUIButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(current_);
    painter.drawRoundedRect(rect(), borderRadius_, borderRadius_);
}

void FUIButton::keyPressEvent(QKeyEvent* event) {
    if (!handleActivationKey(*this, *event, *this))
        QWidget::keyPressEvent(event);
}

void FUIButton::enterEvent(QEnterEvent*) {
    if (!isEnabled())
        return;
    mouseInside_ = true;
    aimateBackgroundColor(hoverColor());
}

void FUIButton::leaveEvent(QEvent*) {
    if (!mouseInside_)
        return;
    mouseInside_ = false;
    aimateBackgroundColor(backgroundColor_);
}

void FUIButton::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return;
    aimateBackgroundColor(pressedColor());
}

void FUIButton::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return;
    // Qt keeps delivering to the pressed widget after the pointer leaves: decide by position.
    const bool inside = rect().contains(event->position().toPoint());
    if (!inside) {
        if (mouseInside_)
            mouseInside_ = false;
        if (target_ != backgroundColor_)
            aimateBackgroundColor(backgroundColor_);
        return;
    }
    if (!mouseInside_)
        return;
    aimateBackgroundColor(backgroundColor_);
    onClicked.fire();
}

void FUIButton::changeEvent(QEvent* event) {
    if (event->type() == QEvent::EnabledChange && !isEnabled()) {
        mouseInside_ = false;
        setBackgroundColor(backgroundColor_);
    }
    QWidget::changeEvent(event);
}

// ---- FUILink ----

FUILink::FUILink(QWidget* parent) : QLabel(parent), opener_(&FUILink::openInBackground) {
    setAttribute(Qt::WA_Hover);
    setCursor(Qt::PointingHandCursor);
    makeKeyboardStop(*this);
}

void FUILink::activate() {
    if (canActivate())
        opener_(*url);
}

void FUILink::keyPressEvent(QKeyEvent* event) {
    if (!handleActivationKey(*this, *event, *this))
        QLabel::keyPressEvent(event);
}

QColor FUILink::textColor() const {
    return palette().color(QPalette::WindowText);
}

void FUILink::setTextColor(const QColor& color) {
    QPalette p = palette();
    p.setColor(QPalette::WindowText, color);
    setPalette(p);
    update();
}

std::optional<QString> checkedAddress(const QString& text, const char* what) {
    const QUrl address(text.trimmed(), QUrl::StrictMode);
    if (text.trimmed().isEmpty() || !address.isValid() || address.scheme().isEmpty() ||
        address.isRelative()) {
        reportError(what, "not a valid address: " + text.toStdString());
        return std::nullopt;
    }
    return QString::fromUtf8(address.toEncoded());
}

void FUILink::openInBackground(const QString& text) {
    const auto address = checkedAddress(text, "open link");
    if (!address)
        return;
    Queue::background().async([encoded = *address] {
        if (!QProcess::startDetached(QStringLiteral("xdg-open"), {encoded})) {
            reportError("xdg-open", "could not open " + encoded.toStdString());
        }
    });
}

void FUILink::enterEvent(QEnterEvent*) {
    savedTextColor_ = textColor();
    if (hoverColor)
        setTextColor(*hoverColor);
}

void FUILink::leaveEvent(QEvent*) {
    if (savedTextColor_)
        setTextColor(*savedTextColor_);
}

void FUILink::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return;
    if (activeColor)
        setTextColor(*activeColor);
}

void FUILink::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return;
    if (rect().contains(event->position().toPoint()))
        activate();
    if (hoverColor)
        setTextColor(*hoverColor);
}

// ---- FUIIndicator ----

FUIIndicator::FUIIndicator(QWidget* parent)
    : QWidget(parent),
      activeColor_(colorRGBA(236, 240, 241, 1.0)),
      inactiveColor_(colorRGBA(189, 195, 199, 1.0)) {
    setAttribute(Qt::WA_TranslucentBackground);
    setCursor(Qt::PointingHandCursor);
    makeKeyboardStop(*this);
}

void FUIIndicator::keyPressEvent(QKeyEvent* event) {
    if (!handleActivationKey(*this, *event, *this))
        QWidget::keyPressEvent(event);
}

void FUIIndicator::setActiveColor(const QColor& color) {
    activeColor_ = color;
    update();
}

void FUIIndicator::setInactiveColor(const QColor& color) {
    inactiveColor_ = color;
    update();
}

void FUIIndicator::setIsActive(bool active) {
    isActive_ = active;
    update();
}

void FUIIndicator::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(isActive_ ? activeColor_ : inactiveColor_);
    painter.drawEllipse(QRectF(rect()));
}

void FUIIndicator::mousePressEvent(QMouseEvent* event) {
    pressed_ = event->button() == Qt::LeftButton;
}

void FUIIndicator::mouseReleaseEvent(QMouseEvent* event) {
    const bool click = pressed_ && event->button() == Qt::LeftButton &&
                       rect().contains(event->position().toPoint());
    pressed_ = false;
    if (click)
        onClicked.fire();
}

}  // namespace vigil
