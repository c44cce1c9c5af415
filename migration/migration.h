#pragma once

// Machine-wide settings of an application version and how they are carried to a newer version.
//
// Every version keeps its settings in three system-scope stores of its organisation, one per
// settings group. The store's application name is the version name, "." and the group, e.g.
// "Kelvor x64 9.1 beta.ForcedSettings". Every function opens its own store objects and destroys
// them before it returns. What a run keeps between calls (the stores already reported as
// unreadable, the values Qt failed to decode, the warnings printed, its application object) is in
// its Run (run.h), which the driver makes and hands down, as are the folders (or registry keys)
// the run created, which the storage is handed wherever it may make or remove one; only Qt's
// message handler and the functions the storage below calls back, which are handed no run, reach
// it as Run::current(). The request to stop stands apart: a flag a signal handler sets. Every line
// goes out through printLine.
// The record of an unfinished migration to the new version is read once, into the plan the driver
// hands to the copy. Above the storage, a function whose name does not say it writes stores
// (copy, record, give up, try writing) only reads them.
//
// Where to look: names.cpp (version and store names), store.cpp (a store opened through QSettings:
// this program's own records, and every store in the storage-neutral build), probes.cpp (does a
// store have settings, may we write), search.cpp (the previous version), copy.cpp (a migration,
// store by store), record.cpp (unfinished migrations), reports.cpp (the error lines and their
// causes), ini.cpp (INI text read and merged as every Qt reads it), values.cpp (values Qt could
// not decode, names fit for printing), application.cpp (Qt's application object and where Qt's
// messages go), decoding_neutral.cpp (the GUI application the storage-neutral build decodes
// values with), run.cpp (the run and the printer), process_*.cpp (signals, broken pipes, standard
// error). The storage itself is behind platform.h, answered by one platform_*.cpp.

#include "platform.h"
#include "run.h"

#include <QMap>
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

// The store, opened for reading as this one store alone (no organisation-wide fallback), with
// every value it holds decoded; nullptr when there is none to read: nothing there, or something
// that cannot be read (reported once per run, and told by `unreadable`).
// (Called by the storage below too: the run is Run::current().)
std::unique_ptr<QSettings> openStore(const QString &organization, const QString &applicationName,
                                     bool *unreadable = nullptr);
// Whether Qt, or a library below it, said anything while the store was read in this run (a value
// that failed to decode, a damaged image). For the storage below: the run is Run::current().
bool decodeFailedIn(const QString &organization, const QString &applicationName);

// Probes

// Whether the store holds any key, in any group; one that cannot be read is reported (once per
// run) and told by `unreadable`. Asks only: nothing is written.
bool settingsExist(Run &run, const QString &organization, const QString &applicationName, bool *unreadable = nullptr);
// Whether any group store of the version holds a key; stops at the first that does.
bool versionSettingsExist(Run &run, const QString &organization, const QString &versionName);
// Whether this process may write system-wide stores, found by trying to write a fixed store of
// the organisation "Vantorel", whatever organisation is being migrated, and removing what was
// written (folders made included). A probe store that cannot be used is reported, and answers no.
bool tryWritingSystemSettings(Run &run);

// Search

// The newest earlier version with settings in any group store and no unfinished migration to it,
// or an empty text when none has. Candidates, newest first: minors below `minor` on `major` (or,
// when `minor` is 0, the previous major from minor 20), then every lower major down to 3 from
// minor 20 to 0; on each minor the release before "beta", "alpha" and "prealpha".
// `applicationName` carries the " x64" tag. Where the stores can be listed, only stores that
// exist are probed.
QString findPreviousApplicationName(Run &run, const QString &organization, const QString &applicationName, int major,
                                    int minor);

// Unfinished migrations

// An unfinished migration to the new version as its record says, read once per run: the version
// it copies from (empty: none is recorded, or it was given up) and the groups it has still to
// carry.
struct MigrationPlan {
    QString from;
    QStringList groupsLeft;
    bool resumes() const { return !from.isEmpty(); }
};
// Reads the record of an unfinished migration to the version. Asks only.
MigrationPlan readMigrationPlan(const QString &organization, const QString &versionName);
// Whether a migration to the version is recorded as unfinished: it is then no whole version.
bool isMigrationUnfinished(const QString &organization, const QString &versionName);
// Gives up the plan's migration where it cannot be completed (says so, removes its record and
// empties the plan): its source has no settings any more, or would be read outside the
// organisation's folder; or, once the search found no version at all (`nothingFound`), its source
// is no candidate any more.
void giveUpUnfinishable(Run &run, const QString &organization, const QString &versionName, MigrationPlan &plan,
                        bool nothingFound = false);
// Records that a migration to the version is under way, with the groups still to be carried
// (rewriting the record as a whole, so that a failed write leaves the earlier one); false when it
// could not be written (and why, in `cause`). An empty list of groups removes the record: the
// migration is complete. The record's name, "SettingsMigrator unfinished <digest>".
QString recordName(const QString &organization, const QString &versionName);
bool recordMigration(Run &run, const QString &organization, const QString &versionName, const QString &fromVersionName,
                     const QStringList &groupsLeft, QString *cause = nullptr);

// Copy

// Prints the copy line, then carries every group store of one version that exists over to the
// same group store of the other, unless the other's first group store already has settings and
// the plan does not resume a migration to it from this version. The migration is recorded as
// unfinished, with the stores still to be carried, until every store has been; when the record
// cannot be written, nothing is.
void copyAllSystemSettings(Run &run, const QString &organization, const QString &fromVersionName,
                           const QString &toVersionName, const MigrationPlan &plan);

// Reports

// "error: could not read settings from '<store>'", once per run and store, and after it
// "  cause: <why>", so that an installer's log tells the administrator what to mend.
void reportUnreadable(Run &run, const QString &applicationName, const QString &cause);
// "error: could not write settings to '<store>'", and after it "  cause: <why>".
void reportUnwritable(const QString &applicationName, const QString &cause);
// "error: not copying '<key>' of '<store>': its value cannot be read by this program".
void reportLeftOut(const QString &key, const QString &applicationName);

// Values

// Whether a value read from a store would be written as something other than what is stored: a
// value of a type that failed to decode, or a list, map or hash holding one. Where Qt reported a
// failure while the store was read (`decodeFailed`), null values (an empty pixmap, an invalid
// value) and empty containers count too, since Qt's reader empties every container around an
// element it cannot decode.
// (For the storage below: the run is Run::current().)
bool isUndecodable(const QVariant &value, bool decodeFailed);
// Takes note of a message of Qt's, or of a library below it; true when it tells of a value Qt
// failed to decode (which is not worth printing).
bool noteMessage(Run &run, const QString &message);
// How many messages were noted in this run so far (Run::current()): one said while a store is
// read means a value of it did not decode as stored (a damaged image, say).
int messagesNoted();
// The text with control characters (below U+0020, and U+007F) written as \xNN, for printing a
// name read from a store.
QString printable(const QString &text);

// INI text (ini.cpp), where stores are files

// Whether the text holds any key, as QSettings reads it; where it holds none, whether QSettings
// would report it malformed (a line that is neither a key, a group nor a comment). With `prefix`,
// the text is the start of a longer one: a key found is a key of the whole, and nothing else is
// concluded.
enum class IniKeys { None, Some, Malformed };
IniKeys iniKeys(const QByteArray &text, bool prefix = false);
// The text `into` with every key of `from` carried over as its line stands, so that Qt 5 (with
// any codec) and Qt 6 each read `from`'s keys as in `from` and `into`'s others as in `into`: a key
// both hold alike takes `from`'s line in place of `into`'s, keys `into` lacks (or that the two Qt
// read differently) join their group after its lines (or a new group at the end), and any other
// line of `into` stays as it is. A key no one text can serve every reader with (a byte order mark
// in one text only changes how Qt 5 reads the other's values) is left as `into` has it, and named
// in `leftOut` as this build's Qt reads it.
QByteArray mergeIniText(const QByteArray &into, const QByteArray &from, QStringList *leftOut = nullptr);

// Application start-up (application.cpp)

// Creates the application object and hands back the command line. Qt's messages are routed from
// here on: those about values Qt fails to decode are noted, any other is printed on standard
// output as "warning: <message>", so that nothing reaches standard error. Qt's switches that turn
// warnings into aborts do not apply.
QStringList startApplication(Run &run, int &argc, char **argv);
// Makes sure values that need a GUI application (pixmaps, bitmaps, cursors, icons, textured
// brushes) can be decoded, on Qt's display-less "minimal" platform, where values are decoded at
// all (the storage-neutral build: decoding_neutral.cpp), replacing the run's application object.
// Called by the storage before a store that exists is read (the run is Run::current()); where
// that platform is missing, such values count as undecodable instead.
void prepareToDecodeValues();
// Prints what libraries below Qt said while values were decoded, as "warning: <message>" lines.
void reportLibraryMessages(Run &run);

// Process (process_posix.cpp, process_win.cpp)

// Keeps the program running when the reader of standard output goes away, holds back what
// libraries below Qt write to standard error themselves (libpng decoding an image value, say),
// narrows the file mode creation mask so that nothing the run creates is writable by others, and
// turns the signals an installer sends on a time-out (or a console's close) into a request to
// stop once the store being written is done.
void prepareProcess(Run &run);
// What libraries wrote to standard error since the last call.
QStringList takeLibraryMessages(Run &run);
// Whether the run has been asked to stop (a flag of the process, which a signal handler sets).
bool stopRequested();
