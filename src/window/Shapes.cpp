#include "window/Shapes.h"

#include <QPainter>

namespace tessaly::window {

Indicator::Indicator(QColor fill, QWidget* parent) : QWidget(parent), fill_(fill) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void Indicator::setFillColor(QColor fill) {
    if (fill == fill_) return;
    fill_ = fill;
    update();
}

void Indicator::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(fill_);
    // The largest circle the area holds, centred, with the rim inside the area.
    const int diameter = qMin(width(), height()) - 1;
    painter.drawEllipse(
        QRectF((width() - diameter) / 2.0, (height() - diameter) / 2.0, diameter, diameter));
}

}  // namespace tessaly::window
