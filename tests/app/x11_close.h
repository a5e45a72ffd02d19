#pragma once

namespace qiv::testing {

// Sends WM_DELETE_WINDOW to a top-level window, as a window manager does when
// the user closes it. Kept apart from Qt code: Xlib's macros clash with it.
bool requestWindowClose(const char* display, unsigned long window);

} // namespace qiv::testing
