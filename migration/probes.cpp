#include "migration.h"

#include <algorithm>
#include <new>

bool settingsExist(Run &run, const QString &organization, const QString &applicationName, bool *unreadable)
{
    // A store without keys is left as it is, comments and all: Qt's writers would not touch it.
    // (A store too large for the memory left is one that cannot be read now.)
    StoreContent content = StoreContent::NotRead;
    QString cause;
    try {
        content = storeContent(organization, applicationName, &cause);
    } catch (const std::bad_alloc &) {
        cause = QStringLiteral("not enough memory to read it");
    }
    if (content == StoreContent::NotRead)
        reportUnreadable(run, applicationName, cause);
    if (unreadable)
        *unreadable = content == StoreContent::NotRead;
    return content == StoreContent::Keys;
}

bool versionSettingsExist(Run &run, const QString &organization, const QString &versionName)
{
    const QStringList groups = settingsGroups();
    return std::any_of(groups.cbegin(), groups.cend(), [&](const QString &group) {
        return settingsExist(run, organization, composeStoreName(versionName, group));
    });
}

bool tryWritingSystemSettings(Run &run)
{
    const QString probe = QStringLiteral("SettingsMigrator write probe");
    // Trying a FIFO or a folder could wait for good, or fail.
    const StoreState state = storeState(ownOrganization(), probe);
    if (state != StoreState::Absent && state != StoreState::Present) {
        QString cause;
        storeContent(ownOrganization(), probe, &cause);
        reportUnwritable(probe, cause);
        return false;
    }
    const bool writable = storeWritable(ownOrganization(), probe, run.madeFolders);
    removeCreatedFolders(run.madeFolders);
    return writable;
}
