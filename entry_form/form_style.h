#pragma once

#include <QProxyStyle>

namespace velmora {

// The program's style: the platform's own (or the one asked for with -style),
// except that the buttons of message boxes and dialogs carry their text only,
// as the form's buttons do.
class FormStyle : public QProxyStyle {
    Q_OBJECT

public:
    // `baseKey` names the style to build on, as QStyleFactory knows it.
    explicit FormStyle(const QString& baseKey);

    int styleHint(StyleHint hint, const QStyleOption* option = nullptr,
                  const QWidget* widget = nullptr,
                  QStyleHintReturn* returnData = nullptr) const override;
};

} // namespace velmora
