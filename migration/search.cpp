#include "migration.h"

#include <QRegularExpression>

#include <algorithm>
#include <map>
#include <tuple>

namespace {
// Every major below the new version's is searched from this minor down.
constexpr int highestSearchedMinor = 20;
// Majors below this one never kept machine-wide settings under these names.
constexpr int lowestSearchedMajor = 3;

// A candidate as the search orders it: newer majors, then newer minors, then lower beta indexes
// first, i.e. ascending (-major, -minor, beta index).
using Candidate = std::tuple<int, int, int>;

bool isCandidate(int candidateMajor, int candidateMinor, int major, int minor)
{
    if (candidateMajor < lowestSearchedMajor || candidateMajor > major)
        return false;
    if (candidateMajor == major)
        return candidateMinor < minor;  // the new version's own minor never is
    return candidateMinor <= highestSearchedMinor;
}

// Whether the version has settings and no unfinished migration is writing it. The record is looked
// at after the stores: a migration records itself before it writes its first store, so one that
// is still writing a store found with settings is seen. (The record asked about is the
// candidate's own, not the one the run's plan was read from.)
bool isWholeVersionWithSettings(Run &run, const QString &organization, const QString &versionName,
                                const QStringList &groups)
{
    return std::any_of(groups.cbegin(), groups.cend(),
                       [&](const QString &group) {
                           return settingsExist(run, organization, composeStoreName(versionName, group));
                       }) &&
           !isMigrationUnfinished(organization, versionName);
}

int indexOf(const QStringList &list, const QString &text, Qt::CaseSensitivity nameCase)
{
    for (int i = 0; i < list.size(); ++i)
        if (list.at(i).compare(text, nameCase) == 0)
            return i;
    return -1;
}

// Reads candidates off the names of the stores that exist: "<application> <major>.<minor>[ <beta
// level>].<group>", numbers as the names are composed (decimal, no sign, no leading zero). Maps
// each candidate to its groups that have a store, in the order they are probed.
std::map<Candidate, QStringList> listedCandidates(const QStringList &storeNames, const QString &applicationName,
                                                  int major, int minor)
{
    const Qt::CaseSensitivity nameCase = storeNameCase();
    const QStringList levels = betaLevels();
    const QStringList groups = settingsGroups();
    static const QRegularExpression version(
        QStringLiteral("^ (0|[1-9][0-9]{0,9})\\.(0|[1-9][0-9]{0,9})(?: ([^.]+))?\\.(.+)$"));

    std::map<Candidate, QStringList> candidates;
    for (const QString &storeName : storeNames) {
        if (!storeName.startsWith(applicationName, nameCase))
            continue;
        const QRegularExpressionMatch match = version.match(storeName.mid(applicationName.size()));
        bool majorRead = false;
        bool minorRead = false;
        const int candidateMajor = match.captured(1).toInt(&majorRead);
        const int candidateMinor = match.captured(2).toInt(&minorRead);
        const int betaIndex = match.captured(3).isEmpty() ? 0 : indexOf(levels, match.captured(3), nameCase);
        const int groupIndex = indexOf(groups, match.captured(4), nameCase);
        if (!match.hasMatch() || !majorRead || !minorRead || betaIndex < 0 || groupIndex < 0 ||
            !isCandidate(candidateMajor, candidateMinor, major, minor))
            continue;
        QStringList &found = candidates[Candidate(-candidateMajor, -candidateMinor, betaIndex)];
        if (!found.contains(groups.at(groupIndex)))
            found.append(groups.at(groupIndex));
    }
    return candidates;
}

}  // namespace

QString findPreviousApplicationName(Run &run, const QString &organization, const QString &applicationName, int major,
                                    int minor)
{
    const QStringList groups = settingsGroups();
    QStringList storeNames;
    if (listStores(organization, applicationName, &storeNames)) {
        // Only stores that exist can hold settings: probe those, in the order of the walk below.
        for (const auto &[candidate, listedGroups] : listedCandidates(storeNames, applicationName, major, minor)) {
            const auto [negatedMajor, negatedMinor, betaIndex] = candidate;
            QString versionName = composeCandidateName(applicationName, -negatedMajor, -negatedMinor, betaIndex);
            QStringList present;  // in list order
            for (const QString &group : groups)
                if (listedGroups.contains(group))
                    present.append(group);
            if (isWholeVersionWithSettings(run, organization, versionName, present))
                return versionName;
        }
        return {};
    }

    // Without a listing, every candidate is probed.
    const int betaLevelCount = betaLevels().size();
    // The new version's own minor is never a candidate: start just below it, or on the
    // previous major when it is the first minor of its major.
    int topMinor = minor == 0 ? highestSearchedMinor : minor - 1;
    for (int m = minor == 0 ? major - 1 : major; m >= lowestSearchedMajor; --m, topMinor = highestSearchedMinor) {
        for (int n = topMinor; n >= 0; --n) {
            for (int betaIndex = 0; betaIndex < betaLevelCount; ++betaIndex) {
                QString candidate = composeCandidateName(applicationName, m, n, betaIndex);
                if (isWholeVersionWithSettings(run, organization, candidate, groups))
                    return candidate;
            }
        }
    }
    return {};
}
