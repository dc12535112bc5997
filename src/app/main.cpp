#include <cstdio>
int main() { std::printf("DeZedodiru %s\n", DZ_VERSION); return 0; }
