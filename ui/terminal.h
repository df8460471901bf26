// The terminal front end: the same start-up and shutdown as the desktop one, with the pairing
// code, its QR symbol, balloons and the countdown printed as lines. Serves headless PCs and
// lets tests drive the real program.
#pragma once

namespace velorin {

// Runs the program until SIGINT, SIGTERM, SIGHUP or "--sair" from another copy; the exit code.
int ExecutarTerminal();

}  // namespace velorin
