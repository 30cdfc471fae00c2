#pragma once
// The plug-in test process ("corvale-plugin-runner"): loads one plug-in and runs its
// PerformTest for the monitor, one thread per test, speaking TPluginFrames on the file
// descriptors 3 (from the monitor) and 4 (to it). A plug-in that crashes or hangs takes
// this process with it, never the monitor. The plug-in's callbacks become calls to the
// monitor that wait for its reply.
int RunPluginChild(int argc, char** argv);
