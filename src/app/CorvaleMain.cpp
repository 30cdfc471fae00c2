#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("Corvale %s\n", CORVALE_VERSION_TEXT);
      return 0;
    }
  }
  std::fprintf(stderr, "corvale: the monitor is not built yet; try --version\n");
  return 1;
}
