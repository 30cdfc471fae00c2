#pragma once
// The program's run states.
enum class TRunState {
  Running = 0,
  Closed = 1,          // closing (the window agreed to close), and closed in order
  ShuttingDown = 2,
  CloseRequested = 4,  // by another program, the tray's Exit, or the end of the session
};

constexpr TRunState rsRunning = TRunState::Running;
constexpr TRunState rsClosed = TRunState::Closed;
constexpr TRunState rsShuttingDown = TRunState::ShuttingDown;
constexpr TRunState rsCloseRequested = TRunState::CloseRequested;
