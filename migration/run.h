#pragma once

#include <QString>

// Prints a line on standard output, the only place the program says anything, each line flushed
// as it is said: a run an installer kills has still logged every line before.
void printLine(const QString &line);
