#include "hosttests/TPluginChild.h"

int main(int argc, char** argv) { return RunPluginChild(argc, argv); }
