#include <cstdio>

int main() {
    std::puts("quillervantis: not built yet");
    return 1;
}
