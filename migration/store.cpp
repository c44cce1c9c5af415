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

}  // namespace

std::unique_ptr<QSettings> openStore(const QString &organization, const QString &applicationName, bool *unreadable)
{
    const auto cannotRead = [&](const QString &cause) {
        reportUnreadable(applicationName, cause);
        if (unreadable)
            *unreadable = true;
        return nullptr;
    };
    if (unreadable)
        *unreadable = false;
    const int messagesBefore = messagesNoted();  // (where only reading tells, the state reads it)
    switch (storeState(organization, applicationName)) {
    case StoreState::Absent:
        return nullptr;
    case StoreState::Unsafe:  // never opened: it could make the run fail or wait for good
        return cannotRead(QStringLiteral("not a store that can be opened without waiting, or one Qt cannot parse"));
    case StoreState::Present:
    case StoreState::Linked:
        break;
    }
    std::unique_ptr<QSettings> store = storeObject(organization, applicationName);
    // Qt decodes a file's values once their keys are first asked for.
    const bool empty = store->allKeys().isEmpty();
    reportLibraryMessages();  // what libraries said while the values were decoded
    if (messagesNoted() != messagesBefore)
        storesWithDecodeFailures().insert(organization + QLatin1Char('/') + applicationName);
    if (empty && store->status() != QSettings::NoError)
        return cannotRead(store->status() == QSettings::AccessError
                              ? QStringLiteral("permission denied")
                              : QStringLiteral("not a settings file as Qt reads it (garbage, or NUL bytes)"));
    return store;
}

bool decodeFailedIn(const QString &organization, const QString &applicationName)
{
    return storesWithDecodeFailures().contains(organization + QLatin1Char('/') + applicationName);
}
