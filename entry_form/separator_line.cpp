#include "entry_form/separator_line.h"

#include <QPainter>

namespace velmora {

SeparatorLine::SeparatorLine(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void SeparatorLine::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.fillRect(rect(), colour());
}

} // namespace velmora
