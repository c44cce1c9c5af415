#include "migration.h"

#include <QSettings>
#include <QUrl>

// A migration in progress is recorded in a store of this program's own, under its own
// organisation like the write probe, one store per organisation and new version, e.g.
// "SettingsMigrator unfinished Vantorel Kelvor%20x64%209.1" for Vantorel's "Kelvor x64 9.1".
// The names are percent-encoded, so that no text of theirs can reach beyond that store.

namespace {

QString recordName(const QString &organization, const QString &versionName)
{
    return QStringLiteral("SettingsMigrator unfinished ") + QString::fromLatin1(QUrl::toPercentEncoding(organization)) +
           QLatin1Char(' ') + QString::fromLatin1(QUrl::toPercentEncoding(versionName));
}

}  // namespace

bool isMigrationUnfinished(const QString &organization, const QString &versionName)
{
    const QString name = recordName(organization, versionName);
    if (storeState(ownOrganization(), name) != StoreState::Present)
        return false;
    return QSettings(storeLocation(ownOrganization(), name), QSettings::NativeFormat).contains(QStringLiteral("from"));
}

void recordUnfinishedMigration(const QString &organization, const QString &versionName, const QString &fromVersionName)
{
    const QString name = recordName(organization, versionName);
    if (storeState(ownOrganization(), name) == StoreState::Unsafe)
        return;
    QSettings record(storeLocation(ownOrganization(), name), QSettings::NativeFormat);
    record.setValue(QStringLiteral("from"), fromVersionName);
    record.sync();  // on disk before the first store of the new version is written
}

void clearUnfinishedMigration(const QString &organization, const QString &versionName)
{
    deleteStore(ownOrganization(), recordName(organization, versionName));
}
