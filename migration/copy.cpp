// A migration, store by store: which stores of the previous version are to be carried, the record
// that says so until they all have been, and each store carried as the platform stores it.

#include "migration.h"

#include <new>

namespace {

// Of the given groups, those whose store of the previous version has settings, to be carried, and
// (in `unreadable`) those whose store cannot be read now (reported): these keep the migration
// unfinished rather than let it pass for whole. Stores without keys are left as they are.
QStringList storesWithSettings(Run &run, const QString &organization, const QString &fromVersionName,
                               const QStringList &groups, QStringList *unreadable)
{
    QStringList found;
    for (const QString &group : groups) {
        bool notRead = false;
        if (settingsExist(run, organization, composeStoreName(fromVersionName, group), &notRead))
            found.append(group);
        else if (notRead)
            unreadable->append(group);
    }
    return found;
}

// A store carried, or not read where there is not memory enough to hold it: then nothing of it is
// written, and the record keeps it for a later run.
Carried carryWithinMemory(const QString &organization, const QString &from, const QString &to, MadeFolders &madeFolders,
                          QString *cause)
{
    try {
        QStringList leftOut;
        const Carried carried = carryStore(organization, from, to, madeFolders, &leftOut, cause);
        for (const QString &key : leftOut)
            reportLeftOut(key, from);  // the destination's own value, or none, stays
        return carried;
    } catch (const std::bad_alloc &) {
        *cause = QStringLiteral("not enough memory to read it");
        return Carried::NotRead;
    }
}

// Carries the stores, taking each off the record once it is whole. A write of the record that
// fails leaves the earlier record, which still names that store: the next run carries it again,
// to the same result. An installer's request to stop is met between two stores.
void carryStores(Run &run, const QString &organization, const QString &fromVersionName, const QString &toVersionName,
                 const QStringList &groups, QStringList groupsLeft)
{
    for (const QString &group : groups) {
        if (stopRequested())
            return;
        const QString from = composeStoreName(fromVersionName, group);
        const QString to = composeStoreName(toVersionName, group);
        QString cause;
        switch (carryWithinMemory(organization, from, to, run.madeFolders, &cause)) {
        case Carried::Copied:
            groupsLeft.removeOne(group);
            recordMigration(run, organization, toVersionName, fromVersionName, groupsLeft);
            break;
        case Carried::NotRead:
            reportUnreadable(run, from, cause);
            break;
        case Carried::NotWritten:
            reportUnwritable(to, cause);
            break;
        }
    }
}

}  // namespace

void copyAllSystemSettings(Run &run, const QString &organization, const QString &fromVersionName,
                           const QString &toVersionName, const MigrationPlan &plan)
{
    printLine(QStringLiteral("Copy All System Settings from '") + fromVersionName + QStringLiteral("' to '") +
              toVersionName + QLatin1Char('\''));

    const QStringList groups = settingsGroups();
    // Another writer may have filled the new version's stores since they were found empty: they
    // are its. A migration the plan resumes filled them itself, and is completed: from where it
    // stopped, when it copied from this very version.
    if (!plan.resumes() && settingsExist(run, organization, composeStoreName(toVersionName, groups.first()))) {
        printLine(QStringLiteral("  Settings already exist for '") + toVersionName +
                  QStringLiteral("', not copying settings"));
        return;
    }
    const bool resumed = plan.from == fromVersionName;
    QStringList groupsLeft = resumed ? plan.groupsLeft : groups;
    QStringList unreadable;
    const QStringList carried = storesWithSettings(run, organization, fromVersionName, groupsLeft, &unreadable);
    groupsLeft.clear();
    for (const QString &group : groups)
        if (carried.contains(group) || unreadable.contains(group))
            groupsLeft.append(group);
    // Until every store is carried, the version is neither "already migrated" to a rerun nor a
    // previous version to another migration. Without that record, a copy cut short would pass
    // for a whole one: nothing is written. A record of this very migration stands as it is until
    // a store is carried (so a full disk cannot cost it).
    const bool recorded = resumed && !groupsLeft.isEmpty();
    if (stopRequested())
        return;  // asked to stop before anything was written: a later run migrates
    QString cause;
    if (recorded || recordMigration(run, organization, toVersionName, fromVersionName, groupsLeft, &cause))
        carryStores(run, organization, fromVersionName, toVersionName, carried, groupsLeft);
    else
        reportUnwritable(recordName(organization, toVersionName), cause);
    removeCreatedFolders(run.madeFolders);
}
