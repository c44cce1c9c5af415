#include "migration.h"

#include <QDataStream>
#include <QSet>
#include <QSettings>
#include <QVector>

#include <iostream>
#include <memory>
#include <utility>

namespace {

void reportLeftOut(const QString &key, const QString &applicationName)
{
    std::cout << "error: not copying '" << printable(key).toStdString() << "' of '" << applicationName.toStdString()
              << "': its value cannot be read by this program" << std::endl;
}

QByteArray serialized(const QVariant &value)
{
    QByteArray bytes;
    QDataStream stream(&bytes, QIODevice::WriteOnly);
    stream << value;
    return bytes;
}

// Whether the store, read afresh, holds every value as it was written. QSettings reports some
// failed writes (a small file on a full disk) as success, so its word is not taken for it.
// Values are compared as stored, or, where a storage keeps a number as text, as Qt compares them.
bool holdsWritten(const QSettings &store, const QVector<std::pair<QString, QVariant>> &written)
{
    if (store.status() != QSettings::NoError)
        return false;
    for (const auto &[key, value] : written) {
        const QVariant stored = store.value(key);
        if (stored != value && serialized(stored) != serialized(value))
            return false;
    }
    return true;
}

// Reports a store that could not be written; false. A store that held nothing before holds
// nothing afterwards, rather than a part that a later run could take for the whole.
bool failed(const QString &organization, const QString &applicationName, bool heldKeys)
{
    if (!heldKeys)
        deleteStore(organization, applicationName);
    reportUnwritable(applicationName);
    return false;
}

}  // namespace

void reportUnwritable(const QString &applicationName)
{
    std::cout << "error: could not write settings to '" << applicationName.toStdString() << "'" << std::endl;
}

void copyAllSystemSettings(const QString &organization, const QString &fromVersionName, const QString &toVersionName)
{
    std::cout << "Copy All System Settings from '" << fromVersionName.toStdString() << "' to '"
              << toVersionName.toStdString() << "'" << std::endl;

    const QStringList groups = settingsGroups();
    // Another writer may have filled the new version's stores since they were found empty; an
    // unfinished migration to it filled them itself, and is completed.
    if (unfinishedMigrationSource(organization, toVersionName).isEmpty() &&
        settingsExist(organization, composeStoreName(toVersionName, groups.first()))) {
        std::cout << "  Settings already exist for '" << toVersionName.toStdString() << "', not copying settings"
                  << std::endl;
        return;
    }
    // Until every store is written, the version is neither "already migrated" to a rerun nor a
    // previous version to another migration. Without that record, a copy cut short would pass
    // for a whole one: nothing is written.
    if (!recordUnfinishedMigration(organization, toVersionName, fromVersionName))
        return;
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
    const StoreState source = storeState(organization, fromApplicationName);
    if (readableStore(source)) {
        prepareToDecodeValues();
        from = openStore(organization, fromApplicationName);
    }
    // (A store that appeared since it was looked at is left for the next run.)
    if (!settingsExist(organization, fromApplicationName) || !from)
        return true;
    const StoreState destination = storeState(organization, toApplicationName);
    if (!writableStore(destination)) {
        reportUnwritable(toApplicationName);
        return false;
    }
    const bool destinationHoldsKeys =
        destination == StoreState::Present && !openStore(organization, toApplicationName)->allKeys().isEmpty();
    // Where a store is written whole (a file), QSettings would write back what it could not decode
    // of the destination's own values as nothing.
    const bool destinationUndecodable = destinationHoldsKeys && decodeFailedIn(organization, toApplicationName);

    // Every value as read, and the keys whose values must not go through QSettings: those it
    // would store differently, those it could not decode and those that name nothing.
    const QStringList keptAsStored = keysKeptOnlyAsStored(organization, fromApplicationName);
    QSet<QString> notThroughQSettings(keptAsStored.cbegin(), keptAsStored.cend());
    QStringList undecodable;
    QVector<std::pair<QString, QVariant>> values;
    const bool decodeFailed = decodeFailedIn(organization, fromApplicationName);
    for (const QString &key : from->allKeys()) {
        if (notThroughQSettings.contains(key))
            continue;
        // A key the store does not hold under its own name (a hand-edited "a//b", "=x", or slashes
        // alone) reads as nothing.
        const int messagesBefore = messagesNoted();
        const QVariant value = key.isEmpty() ? QVariant() : from->value(key);
        if ((!value.isValid() && (key.isEmpty() || !from->contains(key))) ||
            isUndecodable(value, decodeFailed || messagesNoted() != messagesBefore)) {
            undecodable << key;
            notThroughQSettings.insert(key);
            continue;
        }
        values.append({key, value});
    }
    from.reset();

    const QVariantList access =
        prepareStoreAccess(organization, fromApplicationName, toApplicationName, destinationHoldsKeys);
    // Into a store that holds nothing yet, the whole store can go as it is stored, so that not even
    // what this program cannot decode is lost; one that already holds it all (a copy cut short
    // after its last step) needs nothing.
    if (!undecodable.isEmpty() || destinationUndecodable) {
        const CopiedAsStored whole = copyAsStored(organization, fromApplicationName, toApplicationName, QString());
        if (whole == CopiedAsStored::Copied)
            restoreStoreAccess(organization, toApplicationName, access);
        if (whole != CopiedAsStored::NotPossible)
            return whole == CopiedAsStored::Copied || failed(organization, toApplicationName, destinationHoldsKeys);
    }

    if (destinationUndecodable)
        return failed(organization, toApplicationName, true);  // left as it is, and named

    bool written = true;
    {
        const std::unique_ptr<QSettings> to = openStore(organization, toApplicationName);
        for (const QString &key : keptAsStored + undecodable) {
            switch (copyAsStored(organization, fromApplicationName, toApplicationName, key)) {
            case CopiedAsStored::Copied:
                break;
            case CopiedAsStored::Failed:
                written = false;
                break;
            case CopiedAsStored::NotPossible:
                // A missing key lets the new version fall back to its default; a mangled value
                // would not.
                reportLeftOut(key, fromApplicationName);
                break;
            }
        }
        for (const auto &[key, value] : values)
            to->setValue(key, value);
        to->sync();
        written &= to->status() == QSettings::NoError;
    }
    written = written && holdsWritten(*readStoreBack(organization, toApplicationName), values);
    restoreStoreAccess(organization, toApplicationName, access);
    return written || failed(organization, toApplicationName, destinationHoldsKeys);
}
