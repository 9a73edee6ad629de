#pragma once

#include <QProxyStyle>

namespace velmora {

// The program's style: the platform's own (or the one asked for with -style),
// except that the buttons of message boxes and dialogs carry their text only,
// as the form's buttons do.
class FormStyle : public QProxyStyle {
    Q_OBJECT

public:
    // Builds on the style the application would use without it: the
    // platform's own, or the one asked for with -style.
    FormStyle() = default;

    int styleHint(StyleHint hint, const QStyleOption* option = nullptr,
                  const QWidget* widget = nullptr,
                  QStyleHintReturn* returnData = nullptr) const override;
};

} // namespace velmora
