// The console key read.
#ifndef CONSOLE_GETCH_H
#define CONSOLE_GETCH_H

// Flushes standard output, then waits for one key without echoing it and
// returns its code: a character's code point, 27 for Esc alone, 0 for F1
// to F10 and Alt plus a character, 224 for other special keys, and -1 when
// there is nothing left to read.
int getch();

#endif
