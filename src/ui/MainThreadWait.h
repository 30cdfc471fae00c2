#pragma once
// Blocking work started from the main thread (a server's answer the user waits for):
// it runs on a thread of its own while the main thread goes on with its timers, window
// messages and painting, so no server holds the program. Input to the windows waits
// until the work is done, so the user cannot start the same thing twice.
#include <functional>

// Returns when work has ended; what work throws is thrown here.
void RunOffMainThread(const std::function<void()>& work);
