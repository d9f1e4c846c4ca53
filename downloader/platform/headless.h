#pragma once

namespace tk {

// With no display to draw on, picks Qt's offscreen platform before the
// application object exists, so unattended runs work on build machines.
// A stale DISPLAY is covered by the fallback list "xcb;offscreen".
void selectPlatformForDisplay();

// False when the running application draws on no screen anybody sees (the
// offscreen or minimal platform): a window or a dialog there can never be
// answered. Needs the application object.
bool hasDisplay();

// Qt's own notices (debug, warning, critical: the runtime folder, fonts, the
// platform) are dropped from here on, so standard error carries only the
// program's messages in every mode. A fatal one is shown and ends the process.
void dropQtMessages();

} // namespace tk
