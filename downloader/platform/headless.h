#pragma once

namespace tk {

// With no display to draw on, picks Qt's offscreen platform before the
// application object exists, so unattended runs work on build machines.
// A stale DISPLAY is covered by the fallback list "xcb;offscreen".
void selectPlatformForDisplay();

} // namespace tk
