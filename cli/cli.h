#pragma once

#include <QString>

// Prints the help text that follows every command-line error.
void printUsage();

// Checks the version numbers, the beta level and that the names stay inside the settings folder.
// Returns when they are valid; otherwise prints every problem found, an empty line and the usage
// text, and ends the process with status 0.
void checkArguments(const QString &organization, const QString &applicationName, int major, int minor,
                    const QString &betaLevel);
