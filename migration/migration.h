#pragma once

// Machine-wide settings of an application version and how they are carried to a newer version.
//
// Every version keeps its settings in three system-scope QSettings stores of its organisation,
// one per settings group. The store's application name is the version name, "." and the group,
// e.g. "Kelvor x64 9.1 beta.ForcedSettings". Every function opens its own store objects and
// destroys them before it returns; nothing about the stores is kept between calls, except which
// problems have already been reported.

#include <QString>
#include <QStringList>
#include <QVariant>

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

// Probes

// Whether the store holds any key (its own keys only, no organisation-wide fallback).
// A store found empty is cleared. A store that exists but cannot be read counts as empty and is
// reported once per run.
bool settingsExist(const QString &organization, const QString &applicationName);
// Whether any group store of the version holds a key; stops at the first that does.
bool versionSettingsExist(const QString &organization, const QString &versionName);
// Whether this process may write system-wide stores, asked of a fixed store of the organisation
// "Vantorel", whatever organisation is being migrated. Leaves nothing behind of its own.
bool isSystemSettingsWritable();

// Search

// The newest earlier version with settings in any group store, or an empty text when none has.
// Candidates, newest first: minors below `minor` on `major` (or, when `minor` is 0, the previous
// major from minor 20), then every lower major down to 3 from minor 20 to 0; on each minor the
// release before "beta", "alpha" and "prealpha". `applicationName` carries the " x64" tag.
// Only stores that exist are probed, and a version whose migration is unfinished is passed over.
QString findPreviousApplicationName(const QString &organization, const QString &applicationName, int major, int minor);

// Copy

// Prints the copy line, then copies every group store of one version to the same group store of
// the other, unless the other's first group store already has settings and the other version is
// not an unfinished migration. The migration is recorded as unfinished until every store has
// been written.
void copyAllSystemSettings(const QString &organization, const QString &fromVersionName, const QString &toVersionName);
// Copies every key of one store into another; keys only in the destination are left alone.
// Returns false when a store could not be written (and says so).
bool copySettings(const QString &organization, const QString &fromApplicationName, const QString &toApplicationName);

// Unfinished migrations

// Whether a migration to the version was started and has not yet written all its stores.
bool isMigrationUnfinished(const QString &organization, const QString &versionName);
// Records, before its first store is written, that a migration to the version is under way.
void recordUnfinishedMigration(const QString &organization, const QString &versionName, const QString &fromVersionName);
// Removes that record once every store has been written.
void clearUnfinishedMigration(const QString &organization, const QString &versionName);

// Values

// Creates the application object and hands back the command line. Qt's messages are watched from
// here on: those about values this program fails to decode are recorded, any other is printed on
// standard output as "warning: <message>", so that nothing reaches standard error.
QStringList startApplication(int &argc, char **argv);
// Makes sure values that need a GUI application (pixmaps, bitmaps, cursors, icons, textured
// brushes) can be decoded, on Qt's display-less "minimal" platform. Call it before a store that
// exists is opened; where that platform is missing, such values become unreadable instead.
void prepareToDecodeValues();
// Prints what libraries below Qt said while values were decoded, as "warning: <message>" lines.
void reportLibraryMessages();
// Whether a value read from a store lost its content in decoding, so that writing it would store
// something else; lists and maps count when any element did. Invalid values count only once a
// value of an unknown type has been met, since Qt also stores an empty string list as an invalid
// value.
bool isUnreadable(const QVariant &value);

// Platform: where Qt leaves stores alone

// The state of the storage behind a store: nothing there, something QSettings can open, or
// something it must not open (a folder, FIFO, device or dangling link where a file belongs,
// including the store's lock file), which could make it fail or wait for good.
enum class StoreState { Absent, Present, Unsafe };
// Where the store is kept, as QSettings(location, QSettings::NativeFormat) opens that one store
// and no fallback: a file, or a registry key. Empty where the store cannot exist.
QString storeLocation(const QString &organization, const QString &applicationName);
StoreState storeState(const QString &organization, const QString &applicationName);
// The application names of the organisation's stores that may belong to `applicationName`: the
// stores beside the one named `applicationName` + " " + anything. False when they cannot be listed.
bool listStores(const QString &organization, const QString &applicationName, QStringList *storeNames);
// How the storage compares store names.
Qt::CaseSensitivity storeNameCase();
// Gives a new store the source store's access rights before it is written, and again after
// (where stores are files: mode bits, owner and group; registry keys take their parent's rights).
void matchStoreAccess(const QString &organization, const QString &fromApplicationName,
                      const QString &toApplicationName);
// The keys of a store whose values QSettings would not write back as they are stored (where
// stores are registry keys: types other than plain strings and numbers), found in one pass.
QStringList keysKeptOnlyAsStored(const QString &organization, const QString &applicationName);
// Copies such a value as it is stored, type and bytes; false when it could not be written.
bool copyValueAsStored(const QString &organization, const QString &fromApplicationName,
                       const QString &toApplicationName, const QString &key);
// Removes a store entirely.
void deleteStore(const QString &organization, const QString &applicationName);
// The folders or keys that would hold the organisation's stores and do not exist yet, outermost
// first; removeIfEmpty removes those that are still empty, innermost first.
QStringList missingStoreFolders(const QString &organization);
void removeIfEmpty(const QStringList &storeFolders);
// Keeps the program running when the reader of standard output goes away.
void ignoreBrokenPipe();
// Libraries below Qt (libpng decoding an image value, say) write their complaints to standard
// error themselves; from here on they are held back, and takeLibraryMessages hands them over.
void holdBackStandardError();
QStringList takeLibraryMessages();
