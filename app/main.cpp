// Entry point. The window is not built yet; this stand-in says so.
#include <cstdio>

int main() {
  std::puts("Kelvane: the window is not built yet; the engine runs in the tests and benchmarks.");
  return 0;
}
