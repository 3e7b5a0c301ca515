#include <cstdio>

int main() {
  std::fputs("zelvo: not yet built\n", stderr);
  return 1;
}
