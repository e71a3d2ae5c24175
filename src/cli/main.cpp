#include <cstdio>
int main() { std::puts("zevediz-resize"); return 0; }
