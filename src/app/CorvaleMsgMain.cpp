#include <cstdio>

int main() {
  std::fprintf(stderr, "corvale-msg: not built yet\n");
  return 2;
}
