#include <cstdio>

int main()
{
    std::puts("Velto: the start-up dialog is not built yet.");
    return 0;
}
