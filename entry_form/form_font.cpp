#include "entry_form/form_font.h"

#include <QFile>
#include <QFontDatabase>

namespace velmora {
namespace {

constexpr const char* kWineTahoma = "/usr/share/wine/fonts/tahoma.ttf";
constexpr double kPointSize = 8.25;

} // namespace

void loadFormFont() {
    static const bool loaded = [] {
        if (!QFile::exists(QString::fromLatin1(kWineTahoma))) {
            return false;
        }
        return QFontDatabase::addApplicationFont(QString::fromLatin1(kWineTahoma)) >= 0;
    }();
    static_cast<void>(loaded);
}

QFont formFont() {
    loadFormFont();
    QFont font(QStringLiteral("Tahoma"));
    font.setPointSizeF(kPointSize);
    font.setWeight(QFont::Normal);
    font.setItalic(false);
    font.setUnderline(false);
    font.setStrikeOut(false);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

} // namespace velmora
