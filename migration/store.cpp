#include "migration.h"

#include <QSettings>

std::unique_ptr<QSettings> openStore(const QString &organization, const QString &applicationName, bool *unreadable)
{
    Run &run = Run::current();
    const auto cannotRead = [&](const QString &cause) {
        reportUnreadable(run, applicationName, cause);
        if (unreadable)
            *unreadable = true;
        return nullptr;
    };
    if (unreadable)
        *unreadable = false;
    const int messagesBefore = run.messagesNoted;  // (where only reading tells, the state reads it)
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
    reportLibraryMessages(run);  // what libraries said while the values were decoded
    if (run.messagesNoted != messagesBefore)
        run.decodeFailures.insert(organization + QLatin1Char('/') + applicationName);
    if (empty && store->status() != QSettings::NoError)
        return cannotRead(store->status() == QSettings::AccessError
                              ? QStringLiteral("permission denied")
                              : QStringLiteral("not a settings file as Qt reads it (garbage, or NUL bytes)"));
    return store;
}

bool decodeFailedIn(const QString &organization, const QString &applicationName)
{
    return Run::current().decodeFailures.contains(organization + QLatin1Char('/') + applicationName);
}
