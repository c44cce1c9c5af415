#include "migration.h"

#include <QCryptographicHash>
#include <QSettings>
#include <QUrl>

// A migration in progress is recorded in a store of this program's own, under its own
// organisation like the write probe, one store per organisation and new version. The store is
// named by a digest of the two, so that its name fits every storage however long they are and no
// text of theirs can reach beyond that store, e.g. "SettingsMigrator unfinished
// 3f0a...(32 hex digits)"; the record holds them readably beside the version it copies from.

namespace {

const QString fromKey = QStringLiteral("from");

QString recordName(const QString &organization, const QString &versionName)
{
    const QByteArray names = organization.toUtf8() + '\0' + versionName.toUtf8();
    return QStringLiteral("SettingsMigrator unfinished ") +
           QString::fromLatin1(QCryptographicHash::hash(names, QCryptographicHash::Sha256).toHex().left(32));
}

// The name earlier releases gave the record: both names percent-encoded. A migration they left
// unfinished is still completed.
QString earlierRecordName(const QString &organization, const QString &versionName)
{
    return QStringLiteral("SettingsMigrator unfinished ") + QString::fromLatin1(QUrl::toPercentEncoding(organization)) +
           QLatin1Char(' ') + QString::fromLatin1(QUrl::toPercentEncoding(versionName));
}

QString recordedSource(const QString &name)
{
    if (!readableStore(storeState(ownOrganization(), name)))
        return {};
    return openStore(ownOrganization(), name)->value(fromKey).toString();
}

}  // namespace

QString unfinishedMigrationSource(const QString &organization, const QString &versionName)
{
    const QString from = recordedSource(recordName(organization, versionName));
    return from.isEmpty() ? recordedSource(earlierRecordName(organization, versionName)) : from;
}

bool recordUnfinishedMigration(const QString &organization, const QString &versionName, const QString &fromVersionName)
{
    const QString name = recordName(organization, versionName);
    if (writableStore(storeState(ownOrganization(), name))) {
        {
            const std::unique_ptr<QSettings> record = openStore(ownOrganization(), name);
            record->setValue(QStringLiteral("organization"), organization);
            record->setValue(QStringLiteral("version"), versionName);
            record->setValue(fromKey, fromVersionName);
        }  // written back before the first store of the new version is written
        if (readStoreBack(ownOrganization(), name)->value(fromKey).toString() == fromVersionName)
            return true;
        deleteStore(ownOrganization(), name);  // what a failed write left is no record
    }
    reportUnwritable(name);
    return false;
}

void clearUnfinishedMigration(const QString &organization, const QString &versionName)
{
    deleteStore(ownOrganization(), recordName(organization, versionName));
    deleteStore(ownOrganization(), earlierRecordName(organization, versionName));
}
