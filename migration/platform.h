#pragma once

// The storage behind the stores, one file each: platform_unix.cpp (files under XDG_CONFIG_DIRS),
// platform_win.cpp (registry keys below HKEY_LOCAL_MACHINE\Software), platform_neutral.cpp
// (whatever QSettings uses, reached only through QSettings). Nothing else knows which one is
// built, so each function means the same on all three; where a storage cannot tell something (a
// link, say, where only QSettings is seen), it answers as if it were not there. What went wrong
// comes back as a cause in plain words, for the line after an error line, and the keys a copy
// leaves out come back named: they print nothing of their own, save where only QSettings is seen,
// which reads a store as the rest of the program does (openStore, which names a store it cannot
// read and passes on what Qt said while it decoded the values).

#include <QMap>
#include <QString>
#include <QStringList>

#include <memory>

class QSettings;

// The folders (or registry keys) a run created to hold stores, in the order they were made: they
// are the run's to remove at its end, once empty. Held by the caller and handed to each function
// that may make or remove one; an administrator's folder, however empty, is never noted.
struct MadeFolders {
    QStringList paths;
};

// What stands where a store belongs, found without reading its values: nothing; a store of its
// own; a link to a store (or a file with a second name), read through as what it leads to but
// never written through, which would write outside the stores; or something that must not or
// cannot be opened (a folder, FIFO or device, a link to nothing, a lock that is not a plain file,
// a store too large or one this process may not read; where only QSettings is seen, a store it
// could not parse, which is written over as one without keys, as is a file of garbage where
// stores are files). Unsafe things, and links, are never written, removed or written through.
enum class StoreState { Absent, Present, Linked, Unsafe };
StoreState storeState(const QString &organization, const QString &applicationName);

// Whether the store holds any key, in any group, as QSettings would read it: stops at the first.
// An absent store holds none. NotRead: it is Unsafe, or cannot be read now (`cause` says why).
enum class StoreContent { NoKeys, Keys, NotRead };
StoreContent storeContent(const QString &organization, const QString &applicationName, QString *cause = nullptr);

// A QSettings object that reads the store alone (no organisation-wide fallback) as it is now, for
// reading only: the stores are written by the functions below.
std::unique_ptr<QSettings> storeObject(const QString &organization, const QString &applicationName);

// The application names of the organisation's stores that may belong to `applicationName`, as the
// storage names them; nothing is opened. False when they cannot be listed (every candidate is
// then probed).
bool listStores(const QString &organization, const QString &applicationName, QStringList *storeNames);
// How the storage compares store names.
Qt::CaseSensitivity storeNameCase();

// Carries every value of one store (read through a link) into another, and checks what was
// written. Into a store that holds no key, the whole store goes, with its source's access rights;
// over keys already there, each of the source's values replaces the destination's under the same
// key, and the destination keeps its other keys and its own access rights, never wider than the
// source's. Either way it is written whole or not at all (over keys already there, the registry
// writes value by value, each put back should a later one fail: only a run killed meanwhile leaves
// a part, which the record of the unfinished migration still names). `leftOut` names the source's
// keys that were not carried (the destination's own value, or none, stays). A destination that is
// not a store of its own (Linked or Unsafe) is never written.
enum class Carried { Copied, NotRead, NotWritten };
Carried carryStore(const QString &organization, const QString &fromApplicationName, const QString &toApplicationName,
                   MadeFolders &madeFolders, QStringList *leftOut, QString *cause = nullptr);

// Makes the store hold these keys and texts (letters, digits and "-._~%" only) and nothing else;
// an existing store keeps its access rights, one not a store of its own is never written. Written
// whole or not at all: a write that fails leaves the store as it was, and a reader never finds a
// part of a new store. (Over a store that holds values, the registry rewrites them one by one, each
// put back should a later one fail: only a run killed meanwhile may leave some old ones.) False
// when it was not written.
bool replaceStore(const QString &organization, const QString &applicationName, const QMap<QString, QString> &texts,
                  MadeFolders &madeFolders, QString *cause = nullptr);

// Whether this process may write the store, leaving one with keys as it was and none where there
// was none (one without keys may go): asked as cheaply as the storage allows (where stores are
// files, of the nearest folder; of a registry key with values, the access a write takes;
// elsewhere a store is written and removed again), folders it makes noted. A storage that is
// merely full answers yes: the run goes on and names what it cannot write.
bool storeWritable(const QString &organization, const QString &applicationName, MadeFolders &madeFolders);

// Removes a store of its own (never a link, nor what one leads to); where the storage cannot
// remove one, empties it. Its folder stays unless the run made it (see removeCreatedFolders).
void removeStore(const QString &organization, const QString &applicationName, MadeFolders &madeFolders);

// Removes the folders (or registry keys) noted as made, innermost first, those that hold nothing
// now (a store anyone wrote meanwhile stays, and its folder with it), and forgets them all.
void removeCreatedFolders(MadeFolders &madeFolders);
