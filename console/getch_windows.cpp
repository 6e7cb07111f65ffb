// The key read on Windows is the runtime's own console read.
#include <conio.h>

#include <cstdio>

#include "console/getch.h"

int getch() {
    std::fflush(stdout);  // the report is out before the wait
    return _getch();
}
