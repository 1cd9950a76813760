// rulehost: the reference host's command line.
#include <cstdio>

int main() {
    std::puts("rulehost");
    return 0;
}
