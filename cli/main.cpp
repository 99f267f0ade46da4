// Placeholder until the command line lands.
#include <cstdio>
int main() { std::puts("ramulon"); return 0; }
