#pragma once

#include <QString>

// Prints the help text that follows every command-line error.
void printUsage();

// Checks the version numbers and the beta level. Returns true when they are valid; otherwise
// prints every problem found, an empty line and the usage text, and ends the process with status 0.
bool checkArguments(int major, int minor, const QString &betaLevel);
