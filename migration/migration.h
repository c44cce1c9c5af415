#pragma once

// Machine-wide settings of an application version and how they are carried to a newer version.
//
// Every version keeps its settings in three system-scope QSettings stores of its organisation,
// one per settings group. The store's application name is the version name, "." and the group,
// e.g. "Kelvor x64 9.1 beta.ForcedSettings". Every function opens its own store objects and
// destroys them before it returns; nothing about the stores is kept between calls.

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

// Probes

// Whether the store holds any key (its own keys only, no organisation-wide fallback).
// A store found empty is cleared.
bool settingsExist(const QString &organization, const QString &applicationName);
// Whether any group store of the version holds a key; stops at the first that does.
bool versionSettingsExist(const QString &organization, const QString &versionName);
// Whether this process may write system-wide stores, asked of a fixed store of the organisation
// "Vantorel", whatever organisation is being migrated.
bool isSystemSettingsWritable();

// Search

// The newest earlier version with settings in any group store, or an empty text when none has.
// Candidates, newest first: minors below `minor` on `major` (or, when `minor` is 0, the previous
// major from minor 20), then every lower major down to 3 from minor 20 to 0; on each minor the
// release before "beta", "alpha" and "prealpha". `applicationName` carries the " x64" tag.
QString findPreviousApplicationName(const QString &organization, const QString &applicationName, int major, int minor);

// Copy

// Prints the copy line, then copies every group store of one version to the same group store of
// the other, unless the other's first group store already has settings.
void copyAllSystemSettings(const QString &organization, const QString &fromVersionName, const QString &toVersionName);
// Copies every key of one store into another; keys only in the destination are left alone.
void copySettings(const QString &organization, const QString &fromApplicationName, const QString &toApplicationName);

// Values

// Starts recording which stored values this program fails to decode. Call it before any store is
// opened; the record spans the run. Qt's warnings about such values are taken in, not printed.
void watchForUnreadableValues();
// Whether a value read from a store lost its content in decoding, so that writing it would store
// something else. Invalid values count only once a value of an unknown type has been met, since
// Qt also stores an empty string list as an invalid value.
bool isUnreadable(const QVariant &value);
