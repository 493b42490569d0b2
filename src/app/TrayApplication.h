#pragma once

namespace app {

/// Runs the tray application until "Выйти": one instance per user session, on the desktop backend
/// the session calls for. Returns the exit status (1 without a graphical session).
int runTrayApplication(int argc, char** argv);

} // namespace app
