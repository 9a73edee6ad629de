#pragma once

#include <QColor>
#include <QWidget>

namespace velmora {

// A solid one-pixel line in light grey, filling its own geometry; it takes no
// focus and no input.
class SeparatorLine : public QWidget {
    Q_OBJECT

public:
    explicit SeparatorLine(QWidget* parent);

    static QColor colour() { return {192, 192, 192}; }

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace velmora
