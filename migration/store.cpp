#include "migration.h"

#include <QSet>
#include <QSettings>

namespace {

// Stores, as "organisation/store", while whose reading Qt, or a library below it, said something:
// a value that failed to decode, or a damaged image. Qt reads a store once and may hand the same
// contents to later objects, so what was said the first time is kept for the run.
QSet<QString> &storesWithDecodeFailures()
{
    static QSet<QString> stores;
    return stores;
}

QString storeId(const QString &organization, const QString &applicationName)
{
    return organization + QLatin1Char('/') + applicationName;
}

}  // namespace

std::unique_ptr<QSettings> openStore(const QString &organization, const QString &applicationName)
{
    const int messagesBefore = messagesNoted();
    std::unique_ptr<QSettings> store = storeObject(organization, applicationName, false);
    // Qt decodes a file's values once their keys are first asked for; the registry's as each value
    // is read, which copySettings watches itself.
    static_cast<void>(store->allKeys());
    reportLibraryMessages();  // what libraries said while the values were decoded
    if (messagesNoted() != messagesBefore)
        storesWithDecodeFailures().insert(storeId(organization, applicationName));
    return store;
}

std::unique_ptr<QSettings> readStoreBack(const QString &organization, const QString &applicationName)
{
    return storeObject(organization, applicationName, true);
}

bool decodeFailedIn(const QString &organization, const QString &applicationName)
{
    return storesWithDecodeFailures().contains(storeId(organization, applicationName));
}
