#include "migration.h"

#include <QSet>
#include <QSettings>

#include <iostream>
#include <memory>

namespace {

void reportUnwritable(const QString &applicationName)
{
    std::cout << "error: could not write settings to '" << applicationName.toStdString() << "'" << std::endl;
}

}  // namespace

void copyAllSystemSettings(const QString &organization, const QString &fromVersionName, const QString &toVersionName)
{
    std::cout << "Copy All System Settings from '" << fromVersionName.toStdString() << "' to '"
              << toVersionName.toStdString() << "'" << std::endl;

    const QStringList groups = settingsGroups();
    // Another writer may have filled the new version's stores since they were found empty; an
    // unfinished migration to it filled them itself, and is completed.
    if (!isMigrationUnfinished(organization, toVersionName) &&
        settingsExist(organization, composeStoreName(toVersionName, groups.first()))) {
        std::cout << "  Settings already exist for '" << toVersionName.toStdString() << "', not copying settings"
                  << std::endl;
        return;
    }
    // Until every store is written, the version is neither "already migrated" to a rerun nor a
    // previous version to another migration.
    recordUnfinishedMigration(organization, toVersionName, fromVersionName);
    bool written = true;
    for (const QString &group : groups)
        written &= copySettings(organization, composeStoreName(fromVersionName, group),
                                composeStoreName(toVersionName, group));
    if (written)
        clearUnfinishedMigration(organization, toVersionName);
}

bool copySettings(const QString &organization, const QString &fromApplicationName, const QString &toApplicationName)
{
    // Open while it is probed, the source is read from the storage once (Qt keeps no large store
    // for the next object that opens it).
    std::unique_ptr<QSettings> from;
    if (storeState(organization, fromApplicationName) == StoreState::Present) {
        prepareToDecodeValues();
        from = std::make_unique<QSettings>(storeLocation(organization, fromApplicationName), QSettings::NativeFormat);
    }
    // (A store that appeared since it was looked at is left for the next run.)
    if (!settingsExist(organization, fromApplicationName) || !from)
        return true;
    const StoreState destination = storeState(organization, toApplicationName);
    if (destination == StoreState::Unsafe) {
        reportUnwritable(toApplicationName);
        return false;
    }
    const QString toLocation = storeLocation(organization, toApplicationName);
    const bool newStore = destination == StoreState::Absent;
    if (newStore)
        matchStoreAccess(organization, fromApplicationName, toApplicationName);

    bool written = true;
    {
        // Opened by its location, the store's status reports only what writing it did (opened by
        // organisation, a store without organisation starts in AccessError).
        QSettings to(toLocation, QSettings::NativeFormat);
        const QStringList keys = from->allKeys();
        const QStringList keptAsStored = keysKeptOnlyAsStored(organization, fromApplicationName);
        const QSet<QString> asStored(keptAsStored.cbegin(), keptAsStored.cend());
        for (const QString &key : keys) {
            if (asStored.contains(key)) {
                written &= copyValueAsStored(organization, fromApplicationName, toApplicationName, key);
                continue;
            }
            // A key the store does not hold under its own name (a hand-edited "a//b", or one made
            // of slashes alone) reads as nothing, and a value that failed to decode as something
            // else. A missing key lets the new version fall back to its default; a mangled value
            // would not.
            const QVariant value = from->value(key);
            if ((!value.isValid() && !from->contains(key)) || isUnreadable(value)) {
                std::cout << "error: not copying '" << key.toStdString() << "' of '"
                          << fromApplicationName.toStdString() << "': its value cannot be read by this program"
                          << std::endl;
                continue;
            }
            to.setValue(key, value);
        }
        to.sync();
        written &= to.status() == QSettings::NoError && !toLocation.isEmpty();
    }
    if (newStore)
        matchStoreAccess(organization, fromApplicationName, toApplicationName);
    if (!written)
        reportUnwritable(toApplicationName);
    return written;
}
