#pragma once
// The program's run states.
constexpr int rsRunning = 0;
constexpr int rsClosed = 1;         // closing (the window agreed to close), and closed in order
constexpr int rsShuttingDown = 2;
constexpr int rsCloseRequested = 4; // by another program, the tray's Exit, or the end of the session
