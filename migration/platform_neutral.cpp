// Wherever this program has no storage file of its own (macOS's property lists, say): stores are
// reached only as QSettings offers them, by scope, organisation and name, and nothing is assumed
// about where or how they are kept. So nothing is listed (the search probes every candidate),
// nothing is copied as it is stored, access rights are whatever QSettings gives, and a store can
// only be emptied, not removed.

#include "migration.h"

#include <QSettings>

StoreState storeState(const QString &, const QString &)
{
    return StoreState::Present;  // only opening it tells, and opening it is harmless
}

std::unique_ptr<QSettings> storeObject(const QString &organization, const QString &applicationName, bool)
{
    auto store = std::make_unique<QSettings>(QSettings::SystemScope, organization, applicationName);
    store->setFallbacksEnabled(false);
    return store;
}

bool listStores(const QString &, const QString &, QStringList *)
{
    return false;
}

Qt::CaseSensitivity storeNameCase()
{
    return Qt::CaseSensitive;
}

QVariantList prepareStoreAccess(const QString &, const QString &, const QString &, bool)
{
    return {};
}

void restoreStoreAccess(const QString &, const QString &, const QVariantList &) {}

QStringList keysKeptOnlyAsStored(const QString &, const QString &)
{
    return {};
}

CopiedAsStored copyAsStored(const QString &, const QString &, const QString &, const QString &)
{
    return CopiedAsStored::NotPossible;
}

void deleteStore(const QString &organization, const QString &applicationName)
{
    storeObject(organization, applicationName, false)->clear();
}

QStringList missingStoreFolders(const QString &)
{
    return {};
}

void removeIfEmpty(const QStringList &) {}

void prepareProcess() {}

QStringList takeLibraryMessages()
{
    return {};
}
