// Unfinished migrations. A migration under way is recorded in a store of this program's own, under
// its own organisation like the write probe, one per organisation and new version, so that a run
// cut short (killed, power lost, disk full) is completed by the next one and never taken for a
// whole version meanwhile. The store is named by a digest of the two names, so that its name fits
// every storage however long they are and no text of theirs can reach beyond that store. It holds
// them, the version copied from, and the groups still to be carried, percent-encoded, e.g.
//
//   [General]
//   from=Kelvor%20x64%209.0
//   left=DefaultSettingsModificationCounterSystem%20ForcedSettings
//   organization=Vantorel
//   version=Kelvor%20x64%209.1

#include "migration.h"

#include <QCryptographicHash>
#include <QSettings>
#include <QUrl>

#include <algorithm>

namespace {

QString digestName(const QString &organization, const QString &versionName)
{
    const QByteArray names = organization.toUtf8() + '\0' + versionName.toUtf8();
    return QStringLiteral("SettingsMigrator unfinished ") +
           QString::fromLatin1(QCryptographicHash::hash(names, QCryptographicHash::Sha256).toHex().left(32));
}

// Where the storage ignores the case of names, so does the record: "KELVOR" completes what
// "Kelvor" left. Records of 1.0.0, named by the names as given, are still found.
QStringList recordNames(const QString &organization, const QString &versionName)
{
    QStringList names{recordName(organization, versionName), digestName(organization, versionName)};
    names.removeDuplicates();
    return names;
}

QString encoded(const QString &text)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(text));
}

QString decoded(const QVariant &value)
{
    return QUrl::fromPercentEncoding(value.toString().toUtf8());
}

}  // namespace

QString recordName(const QString &organization, const QString &versionName)
{
    return storeNameCase() == Qt::CaseInsensitive ? digestName(organization.toLower(), versionName.toLower())
                                                  : digestName(organization, versionName);
}

MigrationPlan readMigrationPlan(const QString &organization, const QString &versionName)
{
    for (const QString &name : recordNames(organization, versionName)) {
        const std::unique_ptr<QSettings> record = openStore(ownOrganization(), name);
        if (!record)
            continue;
        // Records of 1.0.0 hold names as they are, and say nothing of the groups left: every store
        // is carried again.
        const QVariant from = record->value(QStringLiteral("from")), left = record->value(QStringLiteral("left"));
        MigrationPlan plan{left.isValid() ? decoded(from) : from.toString(), {}};
        if (plan.from.isEmpty())
            continue;
        plan.groupsLeft = left.isValid() ? decoded(left).split(QLatin1Char(' ')) : settingsGroups();
        plan.groupsLeft.removeAll(QString());
        return plan;
    }
    return {};
}

bool isMigrationUnfinished(const QString &organization, const QString &versionName)
{
    return readMigrationPlan(organization, versionName).resumes();
}

void giveUpUnfinishable(Run &run, const QString &organization, const QString &versionName, MigrationPlan &plan,
                        bool nothingFound)
{
    if (!plan.resumes())
        return;
    // A record is no command line, yet its names are held to the same rules: one that would reach
    // stores outside the organisation's folder, or that holds a NUL (which no command line can),
    // is given up before any store is looked at.
    const QStringList groups = settingsGroups();
    const bool climbsOut = std::any_of(groups.cbegin(), groups.cend(), [&](const QString &group) {
        return climbsOutOfFolder(composeStoreName(plan.from, group));
    });
    if (!nothingFound && !climbsOut && !plan.from.contains(QChar(0)) &&
        versionSettingsExist(run, organization, plan.from))
        return;
    printLine(QStringLiteral("  The unfinished migration from '") + printable(plan.from) +
              QStringLiteral("' cannot be completed and is given up"));
    recordMigration(run, organization, versionName, plan.from, {});
    plan = {};
}

bool recordMigration(Run &run, const QString &organization, const QString &versionName, const QString &fromVersionName,
                     const QStringList &groupsLeft, QString *cause)
{
    const QStringList names = recordNames(organization, versionName);
    if (!groupsLeft.isEmpty() && !replaceStore(ownOrganization(), names.first(),
                                               {{QStringLiteral("organization"), encoded(organization)},
                                                {QStringLiteral("version"), encoded(versionName)},
                                                {QStringLiteral("from"), encoded(fromVersionName)},
                                                {QStringLiteral("left"), encoded(groupsLeft.join(QLatin1Char(' ')))}},
                                               run.madeFolders, cause))
        return false;
    for (const QString &name : groupsLeft.isEmpty() ? names : QStringList(names.mid(1)))
        removeStore(ownOrganization(), name, run.madeFolders);
    return true;
}
