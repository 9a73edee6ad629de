#pragma once

namespace velmora {

// Gives screen readers what Qt's own accessibility leaves out for the form:
// the window ADD is a frame (a plain QWidget would be a "filler"), a separator
// line is a separator, and a combo box that has an accessible name is named by
// it (on Unix Qt names every combo box by its current value). Installs once;
// call before the form's widgets are first asked for their interfaces.
void installFormAccessibility();

} // namespace velmora
