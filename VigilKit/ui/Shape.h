#pragma once

#include <QColor>
#include <QLabel>
#include <QPen>
#include <QPointer>
#include <QWidget>

class QPainter;

namespace vigil {

// Base of the small drawn views: colour, line width, fill-or-outline and the coordinate direction.
// Subclasses draw in y-up coordinates unless `flip` is set (then y grows downwards, as in Qt).
class Shape : public QWidget {
  public:
    explicit Shape(QWidget* parent = nullptr);

    bool fill() const { return fill_; }
    void setFill(bool fill) { fill_ = fill; }
    double lineWidth() const { return lineWidth_; }
    void setLineWidth(double width) { lineWidth_ = width; }
    QColor color() const { return color_; }
    // Redraws only when the colour changed.
    void setColor(const QColor& color);
    bool flip() const { return flip_; }
    void setFlip(bool flip) { flip_ = flip; }
    bool isFlipped() const { return flip_; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    // Draws into a rectangle of the widget's size, in the coordinates `flip` chooses.
    virtual void draw(QPainter& painter, const QRectF& rect) = 0;

  private:
    bool fill_ = true;
    double lineWidth_ = 2.0;
    QColor color_;
    bool flip_ = false;
};

class Circle : public Shape {
  public:
    using Shape::Shape;

  protected:
    void draw(QPainter& painter, const QRectF& rect) override;
};

class Square : public Shape {
  public:
    using Shape::Shape;

    // A label placed over the square; the square neither draws nor changes it.
    QPointer<QLabel> myLabel;
    double cornerRadius() const { return cornerRadius_; }
    void setCornerRadius(double radius) { cornerRadius_ = radius; }

  protected:
    void draw(QPainter& painter, const QRectF& rect) override;

  private:
    double cornerRadius_ = 0;
};

class Triangle : public Shape {
  public:
    using Shape::Shape;

  protected:
    // A filled triangle sets its own line width to 0 (kept afterwards).
    void draw(QPainter& painter, const QRectF& rect) override;
};

class HorizontalLine : public Shape {
  public:
    using Shape::Shape;

    bool rounded() const { return rounded_; }
    void setRounded(bool rounded) { rounded_ = rounded; }

  protected:
    void draw(QPainter& painter, const QRectF& rect) override;

  private:
    bool rounded_ = false;
};

// A pen of `width` in `color`, or no pen when the width is not a positive finite number.
QPen strokePen(const QColor& color, double width, Qt::PenCapStyle cap = Qt::SquareCap);

}  // namespace vigil
