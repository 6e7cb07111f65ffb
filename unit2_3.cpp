// Tallies a handful of coins, prints what they are worth and waits for a
// key, whose code becomes the exit status.
#include <cstdio>

#include "console/getch.h"

int nikels;
int dimes;
int TotCenter;

int main() {
    nikels = 3;
    dimes = 7;
    TotCenter = nikels * 5 + dimes * 10;
    std::printf("%d nikels and %d dimes. \n", nikels, dimes);
    std::printf("= %d cents. \n", TotCenter);
    std::puts("Design by Varnoth");
    return getch();
}
