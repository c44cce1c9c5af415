#include "cli.h"

#include <algorithm>
#include <cstdlib>
#include <iostream>

namespace {
// Every accepted major costs about 252 store probes in the search for a previous version, so the
// numbers are bounded; 9999 still admits year-style versions such as 2026.1.
constexpr int highestVersionNumber = 9999;
}  // namespace

bool checkArguments(int major, int minor, const QString &betaLevel)
{
    bool valid = true;
    if (major == 0) {
        std::cout << "error: major cannot be 0. You specified: Major: " << major << " [Minor: " << minor << "]"
                  << std::endl;
        valid = false;
    }
    if (major < 0 || minor < 0) {
        std::cout << "error: major or minor cannot be < 0. You specified: Major: " << major << " Minor: " << minor
                  << std::endl;
        valid = false;
    }
    if (major > highestVersionNumber || minor > highestVersionNumber) {
        std::cout << "error: major or minor cannot be > " << highestVersionNumber << ". You specified: Major: "
                  << major << " Minor: " << minor << std::endl;
        valid = false;
    }
    if (std::any_of(betaLevel.cbegin(), betaLevel.cend(), [](QChar character) { return character.isDigit(); })) {
        std::cout << "error: betalevel must not contain a digit. You specified: '" << betaLevel.toStdString() << "'"
                  << std::endl;
        valid = false;
    }
    if (valid)
        return true;

    std::cout << std::endl;
    printUsage();
    std::exit(0);
}
