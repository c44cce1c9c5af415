#pragma once

// Machine-wide settings of an application version and how they are carried to a newer version.
//
// Every version keeps its settings in three system-scope QSettings stores of its organisation,
// one per settings group. The store's application name is the version name, "." and the group,
// e.g. "Kelvor x64 9.1 beta.ForcedSettings". Every function opens its own store objects and
// destroys them before it returns; nothing about the stores is kept between calls, except which
// problems have already been reported and which stores Qt failed to decode.
//
// Where to look: names.cpp (version and store names), store.cpp (how a store is opened),
// probes.cpp (does a store have settings, may we write), search.cpp (the previous version),
// copy.cpp (carrying stores over), record.cpp (unfinished migrations), values.cpp (values Qt
// could not decode, names fit for printing), application.cpp (Qt's application objects and
// where Qt's messages go), platform_*.cpp (the storage itself, below the last heading).

#include <QString>
#include <QStringList>
#include <QVariant>

#include <memory>

class QSettings;

// Names

// "DefaultSettings", "DefaultSettingsModificationCounterSystem", "ForcedSettings", in this order.
QStringList settingsGroups();
// The beta levels searched, newest build first: release (empty text), "beta", "alpha", "prealpha".
QStringList betaLevels();
// applicationName + " " + major + "." + minor, then " " + betaLevel unless it is empty or "release".
QString composeVersionName(const QString &applicationName, int major, int minor, const QString &betaLevel);
// The name of a search candidate: as composeVersionName with betaLevels().at(betaIndex).
QString composeCandidateName(const QString &applicationName, int major, int minor, int betaIndex);
// versionName + "." + group.
QString composeStoreName(const QString &versionName, const QString &group);
// The organisation of this program's own stores (the write probe, the records of unfinished
// migrations), whatever organisation is being migrated: "Vantorel".
QString ownOrganization();
// Whether a name has a ".." element between slashes or backslashes, which would place a store
// outside its organisation's folder where stores are files.
bool climbsOutOfFolder(const QString &name);

// Stores

// Opens a store for reading or writing, as this one store alone (no organisation-wide fallback),
// and notes whether Qt failed to decode any of its values while reading it. Call it only for a
// store whose storeState is not Unsafe.
std::unique_ptr<QSettings> openStore(const QString &organization, const QString &applicationName);
// The store read afresh from the storage, as another process would read it now, to check what a
// write left there. For reading only.
std::unique_ptr<QSettings> readStoreBack(const QString &organization, const QString &applicationName);
// Whether Qt reported a value of the store it failed to decode while the store was read in this
// run: a list or map holding such a value is then emptied, and an invalid value may be one.
bool decodeFailedIn(const QString &organization, const QString &applicationName);

// Probes

// Whether the store holds any key (its own keys only, no organisation-wide fallback).
// A store found empty is cleared. A store that exists but cannot be read counts as empty and is
// reported once per run.
bool settingsExist(const QString &organization, const QString &applicationName);
// Whether any group store of the version holds a key; stops at the first that does.
bool versionSettingsExist(const QString &organization, const QString &versionName);
// Whether this process may write system-wide stores, asked of a fixed store of the organisation
// "Vantorel", whatever organisation is being migrated. Leaves nothing behind of its own. A probe
// store that cannot be used is reported, and answers no.
bool isSystemSettingsWritable();

// Search

// The newest earlier version with settings in any group store, or an empty text when none has.
// Candidates, newest first: minors below `minor` on `major` (or, when `minor` is 0, the previous
// major from minor 20), then every lower major down to 3 from minor 20 to 0; on each minor the
// release before "beta", "alpha" and "prealpha". `applicationName` carries the " x64" tag.
// Where the stores can be listed, only stores that exist are probed. A version whose migration
// is unfinished is passed over.
QString findPreviousApplicationName(const QString &organization, const QString &applicationName, int major, int minor);

// Copy

// Prints the copy line, then copies every group store of one version to the same group store of
// the other, unless the other's first group store already has settings and the other version is
// not an unfinished migration. The migration is recorded as unfinished until every store has
// been written; when the record cannot be written, nothing is.
void copyAllSystemSettings(const QString &organization, const QString &fromVersionName, const QString &toVersionName);
// Copies every key of one store into another; keys only in the destination are left alone.
// Values this program cannot decode are carried as they are stored where the storage allows,
// else left out and named. Returns false when the store could not be written (and says so).
bool copySettings(const QString &organization, const QString &fromApplicationName, const QString &toApplicationName);
// Prints the line that names a store which could not be written.
void reportUnwritable(const QString &applicationName);

// Unfinished migrations

// The version an unfinished migration to `versionName` copies from, or an empty text when no
// migration to it is unfinished.
QString unfinishedMigrationSource(const QString &organization, const QString &versionName);
// Records, before the first store is written, that a migration to the version is under way;
// false (and said) when the record could not be written.
bool recordUnfinishedMigration(const QString &organization, const QString &versionName, const QString &fromVersionName);
// Removes that record, once every store has been written or once the migration cannot finish.
void clearUnfinishedMigration(const QString &organization, const QString &versionName);

// Values

// Whether a value read from a store would be written as something other than what is stored: a
// value of a type that failed to decode, or a list, map or hash holding one. Where Qt reported a
// failure while the store was read (`decodeFailed`), null values (an empty pixmap, an invalid
// value) and empty containers count too, since Qt's reader empties every container around an
// element it cannot decode.
bool isUndecodable(const QVariant &value, bool decodeFailed);
// Takes note of a message of Qt's, or of a library below it; true when it tells of a value Qt
// failed to decode (which is not worth printing).
bool noteMessage(const QString &message);
// How many messages were noted in this run so far: one said while a store is read means a value
// of it did not decode as stored (a damaged image, say).
int messagesNoted();
// The text with control characters (below U+0020, and U+007F) written as \xNN, for printing a
// name read from a store.
QString printable(const QString &text);

// Application start-up (application.cpp)

// Creates the application object and hands back the command line. Qt's messages are routed from
// here on: those about values Qt fails to decode are noted, any other is printed on standard
// output as "warning: <message>", so that nothing reaches standard error. Qt's switches that turn
// warnings into aborts do not apply.
QStringList startApplication(int &argc, char **argv);
// Makes sure values that need a GUI application (pixmaps, bitmaps, cursors, icons, textured
// brushes) can be decoded, on Qt's display-less "minimal" platform. Call it before a store that
// exists is opened; where that platform is missing, such values count as undecodable instead.
void prepareToDecodeValues();
// Prints what libraries below Qt said while values were decoded, as "warning: <message>" lines.
void reportLibraryMessages();

// Platform: the storage behind the stores, one file each (platform_unix.cpp: files under
// XDG_CONFIG_DIRS; platform_win.cpp: registry keys; platform_neutral.cpp: whatever QSettings
// uses, reached only through QSettings). Nothing above this line knows which one is built.

// The state of the storage behind a store: nothing there, something QSettings can open, a link
// to such a file elsewhere (read through, never written through: that would write outside the
// stores), or something it must not open (a folder, FIFO, device or dangling link where a file
// belongs, including the store's lock file), which could make it fail or wait for good.
enum class StoreState { Absent, Present, Linked, Unsafe };
// Whether a store in that state may be read, or written, by this program.
inline bool readableStore(StoreState state)
{
    return state == StoreState::Present || state == StoreState::Linked;
}
inline bool writableStore(StoreState state)
{
    return state == StoreState::Absent || state == StoreState::Present;
}
StoreState storeState(const QString &organization, const QString &applicationName);
// The store object for openStore and readStoreBack (`fresh`: bypassing what Qt keeps in memory).
std::unique_ptr<QSettings> storeObject(const QString &organization, const QString &applicationName, bool fresh);
// The application names of the organisation's stores that may belong to `applicationName`: the
// stores beside the one named `applicationName` + " " + anything. False when they cannot be listed
// (every candidate is then probed).
bool listStores(const QString &organization, const QString &applicationName, QStringList *storeNames);
// How the storage compares store names.
Qt::CaseSensitivity storeNameCase();
// The access rights a destination store is to have (where stores are files: mode bits, owner
// and group): the source's when the destination is new or holds no key, else the destination's
// owner and group and no wider mode than the source's. Sets them before anything is written.
QVariantList prepareStoreAccess(const QString &organization, const QString &fromApplicationName,
                                const QString &toApplicationName, bool destinationHoldsKeys);
// Sets them again once the store was written (a written file may belong to the writer).
void restoreStoreAccess(const QString &organization, const QString &applicationName, const QVariantList &access);
// The keys of a store whose values QSettings would not write back as they are stored (where
// stores are registry keys: types other than plain strings and numbers), found in one pass.
QStringList keysKeptOnlyAsStored(const QString &organization, const QString &applicationName);
// Copies, without decoding it, the value under `key` (where stores are registry keys: type and
// bytes) or, with an empty key, the whole store into a destination that holds no key (where
// stores are files: byte for byte, atomically, under the store's lock).
enum class CopiedAsStored { Copied, Failed, NotPossible };
CopiedAsStored copyAsStored(const QString &organization, const QString &fromApplicationName,
                            const QString &toApplicationName, const QString &key);
// Removes a store entirely (where the storage cannot, empties it).
void deleteStore(const QString &organization, const QString &applicationName);
// The folders or keys that would hold the organisation's stores and do not exist yet, outermost
// first; removeIfEmpty removes those that are still empty, innermost first.
QStringList missingStoreFolders(const QString &organization);
void removeIfEmpty(const QStringList &storeFolders);
// Keeps the program running when the reader of standard output goes away, and holds back what
// libraries below Qt write to standard error themselves (libpng decoding an image value, say);
// takeLibraryMessages hands it over.
void prepareProcess();
QStringList takeLibraryMessages();
