#pragma once

#include <QColor>
#include <QPalette>
#include <QWidget>

namespace tessaly::window {

// A round lamp with a thin black rim, filled with one colour; it shows state and takes no input.
class Indicator : public QWidget {
    Q_OBJECT
public:
    Indicator(QColor fill, QWidget* parent);

    QColor fillColor() const { return fill_; }
    void setFillColor(QColor fill);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor fill_;
};

// A palette colour drawn as a rectangle outline or as a solid bar; a bar one pixel thick is a
// line. Purely decoration: it takes no input and follows the colour scheme.
class Decoration : public QWidget {
    Q_OBJECT
public:
    enum class Style { Outline, Solid };

    Decoration(Style style, QPalette::ColorRole role, QWidget* parent);

    QColor color() const { return palette().color(role_); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Style style_;
    QPalette::ColorRole role_;
};

}  // namespace tessaly::window
