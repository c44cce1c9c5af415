#include "migration.h"

namespace {
// Every major below the new version's is searched from this minor down.
constexpr int highestSearchedMinor = 20;
// Majors below this one never kept machine-wide settings under these names.
constexpr int lowestSearchedMajor = 3;
}  // namespace

QString findPreviousApplicationName(const QString &organization, const QString &applicationName, int major, int minor)
{
    const int betaLevelCount = betaLevels().size();

    // The new version's own minor is never a candidate: start just below it, or on the
    // previous major when it is the first minor of its major.
    int topMinor = minor == 0 ? highestSearchedMinor : minor - 1;
    for (int m = minor == 0 ? major - 1 : major; m >= lowestSearchedMajor; --m, topMinor = highestSearchedMinor) {
        for (int n = topMinor; n >= 0; --n) {
            for (int betaIndex = 0; betaIndex < betaLevelCount; ++betaIndex) {
                QString candidate = composeCandidateName(applicationName, m, n, betaIndex);
                if (versionSettingsExist(organization, candidate))
                    return candidate;
            }
        }
    }
    return {};
}
