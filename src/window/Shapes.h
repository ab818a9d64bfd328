#pragma once

#include <QColor>
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

}  // namespace tessaly::window
