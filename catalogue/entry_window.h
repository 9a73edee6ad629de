#pragma once

#include <string>
#include <string_view>

namespace velmora {

// The controls of the entry that the add operation reads.
enum class Field { Program, Opis, Kategorija, Source, Slika };

// What the add operation needs from the window it runs in. The Qt form
// implements it; tests implement it with a recording fake. All texts are UTF-8.
class EntryWindow {
public:
    virtual ~EntryWindow() = default;

    // The text that the control holds at this moment.
    virtual std::string fieldText(Field field) = 0;
    // Shows the text in the title bar at once.
    virtual void setCaption(std::string_view text) = 0;
    // A modal box with the critical icon and a single OK button; returns when
    // the user has closed it.
    virtual void messageBox(std::string_view text, std::string_view title) = 0;
    // Handles every window event already waiting (painting, input) and returns.
    virtual void processPendingEvents() = 0;
    // The folder that holds the executable, without a trailing "/" except at
    // the root; read anew at each use.
    virtual std::string applicationFolder() = 0;
    // A copy into the program folder is about to start; `targetName` is
    // "Picture.bmp" or "Setup.exe". The window shows only the percentage and
    // ignores it; a terminal names the file.
    virtual void copyStarting(std::string_view /*targetName*/) {}
};

} // namespace velmora
