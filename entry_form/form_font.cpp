#include "entry_form/form_font.h"

#include "catalogue/application_folder.h"

#include <QFile>
#include <QFontDatabase>
#include <cstdlib>
#include <string>
#include <sys/stat.h>

namespace velmora {
namespace {

constexpr const char* kWineTahoma = "/usr/share/wine/fonts/tahoma.ttf";
constexpr const char* kFontsFolder = "/fonts/";
constexpr double kPointSize = 8.25;

bool isFile(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

// The font installed with the program in its folder, else the system's.
QString formFontFile() {
    const std::string beside = executableFolder() + kFontsFolder + "tahoma.ttf";
    if (isFile(beside)) {
        return QFile::decodeName(beside.c_str());
    }
    return QString::fromLatin1(kWineTahoma);
}

} // namespace

void useFolderFontConfig() {
    if (std::getenv("FONTCONFIG_FILE") != nullptr) {
        return;
    }
    const std::string config = executableFolder() + kFontsFolder + "fonts.conf";
    if (isFile(config)) {
        ::setenv("FONTCONFIG_FILE", config.c_str(), 0);
    }
}

void loadFormFont() {
    static const bool loaded = [] {
        const QString file = formFontFile();
        if (!QFile::exists(file)) {
            return false;
        }
        return QFontDatabase::addApplicationFont(file) >= 0;
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
