#include "cli.h"

#include <QRegularExpression>

#include <algorithm>
#include <cstdlib>
#include <iostream>

namespace {
// Every accepted major costs about 252 store probes in the search for a previous version, so the
// numbers are bounded; 9999 still admits year-style versions such as 2026.1.
constexpr int highestVersionNumber = 9999;

// Where stores are files, the organisation and application names become folders and file names:
// a ".." among them would reach stores outside the machine's settings folder.
bool climbsOutOfSettingsFolder(const QString &name)
{
    static const QRegularExpression separator(QStringLiteral("[/\\\\]"));
    return name.split(separator).contains(QStringLiteral(".."));
}
}  // namespace

bool checkArguments(const QString &organization, const QString &applicationName, int major, int minor,
                    const QString &betaLevel)
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
        std::cout << "error: major or minor cannot be > " << highestVersionNumber << ". You specified: Major: " << major
                  << " Minor: " << minor << std::endl;
        valid = false;
    }
    if (std::any_of(betaLevel.cbegin(), betaLevel.cend(), [](QChar character) { return character.isDigit(); })) {
        std::cout << "error: betalevel must not contain a digit. You specified: '" << betaLevel.toStdString() << "'"
                  << std::endl;
        valid = false;
    }
    if (climbsOutOfSettingsFolder(organization) || climbsOutOfSettingsFolder(applicationName)) {
        std::cout << "error: organization or application name cannot contain a '..' path element. You specified: "
                     "Organization: '"
                  << organization.toStdString() << "' Application: '" << applicationName.toStdString() << "'"
                  << std::endl;
        valid = false;
    }
    if (valid)
        return true;

    std::cout << std::endl;
    printUsage();
    std::exit(0);
}
