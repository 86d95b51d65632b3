#include <cstdio>

int main() {
    std::fputs("moonrake-server: not built yet\n", stderr);
    return 1;
}
