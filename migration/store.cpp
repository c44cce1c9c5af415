#include "migration.h"

#include <QSettings>

std::unique_ptr<QSettings> openStore(const QString &organization, const QString &applicationName, bool *unreadable)
{
    const auto cannotRead = [&] {
        reportUnreadable(applicationName);
        if (unreadable)
            *unreadable = true;
        return nullptr;
    };
    if (unreadable)
        *unreadable = false;
    switch (storeState(organization, applicationName)) {
    case StoreState::Absent:
        return nullptr;
    case StoreState::Unsafe:  // never opened: it could make the run fail or wait for good
        return cannotRead();
    case StoreState::Present:
    case StoreState::Linked:
        break;
    }
    // Some values (bitmaps, cursors) make Qt abort while it reads them without a GUI application.
    prepareToDecodeValues();
    std::unique_ptr<QSettings> store = storeObject(organization, applicationName);
    // Qt decodes a file's values once their keys are first asked for.
    const bool empty = store->allKeys().isEmpty();
    reportLibraryMessages();  // what libraries said while the values were decoded
    if (empty && store->status() != QSettings::NoError)
        return cannotRead();  // garbage, NUL bytes after a power loss, no read access
    return store;
}
