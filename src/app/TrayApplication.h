#pragma once

namespace app {

/// Runs the tray application until "Выйти": one instance per user session, on the X11 desktop
/// (XWayland under a Wayland session). Returns the exit status.
int runTrayApplication(int argc, char** argv);

} // namespace app
