#pragma once
// Waiting on the main thread for work that reports through it, without re-entering the
// program: until done() holds or the deadline passes, only posted events (completion
// steps, reports of other threads), timers and socket traffic are delivered; window
// messages and user input wait until the main loop runs again. Callers pause the timers
// that would start new work. Without an application object nothing can arrive,
// so the wait only sleeps until the deadline or done().
#include <chrono>
#include <functional>

using TSteadyTime = std::chrono::steady_clock::time_point;

// True when done() held before the deadline. TSteadyTime::max(): no deadline.
bool QuietWait(const std::function<bool()>& done, TSteadyTime deadline);
