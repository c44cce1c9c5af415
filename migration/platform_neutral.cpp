// Wherever this program has no storage file of its own (macOS's property lists, say): stores are
// reached only as QSettings offers them, by scope, organisation and name, and nothing is assumed
// about where or how they are kept. So nothing is listed (the search probes every candidate),
// values are copied as Qt decodes them (those it cannot decode are left out and named), access
// rights are whatever QSettings gives, and a store is emptied where it cannot be removed.

#include "migration.h"

#include <QDataStream>
#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QVector>

#include <utility>

namespace {

QByteArray serialized(const QVariant &value)
{
    QByteArray bytes;
    QDataStream stream(&bytes, QIODevice::WriteOnly);
    stream << value;
    return bytes;
}

// The values of the store that QSettings can write back as they are stored; the keys of the others
// go to `leftOut`.
QVector<std::pair<QString, QVariant>> decodableValues(const QSettings &store, bool decodeFailed, QStringList *leftOut)
{
    QVector<std::pair<QString, QVariant>> values;
    for (const QString &key : store.allKeys()) {
        // A key the store does not hold under its own name (a hand-edited "a//b", "=x", or slashes
        // alone) reads as nothing.
        const int messagesBefore = messagesNoted();
        const QVariant value = key.isEmpty() ? QVariant() : store.value(key);
        if ((!value.isValid() && (key.isEmpty() || !store.contains(key))) ||
            isUndecodable(value, decodeFailed || messagesNoted() != messagesBefore))
            leftOut->append(key);  // the new version falls back to its default
        else
            values.append({key, value});
    }
    return values;
}

// Hands on why a store could not be read or written, where the caller asks.
void tell(QString *cause, const QString &why)
{
    if (cause)
        *cause = why;
}

// What QSettings' status says of a failed write, in plain words: it tells no more than that.
QString statusCause(QSettings::Status status)
{
    switch (status) {
    case QSettings::AccessError:
        return QStringLiteral("QSettings reports an access error (permission denied, a full disk or a read-only "
                              "file system)");
    case QSettings::FormatError:
        return QStringLiteral("QSettings reports a format error");
    case QSettings::NoError:
        break;
    }
    return QStringLiteral("what was written does not read back as written");
}

// The store as QSettings reads and writes it, alone.
std::unique_ptr<QSettings> settingsOf(const QString &organization, const QString &applicationName)
{
    auto store = std::make_unique<QSettings>(QSettings::SystemScope, organization, applicationName);
    store->setFallbacksEnabled(false);
    return store;
}

// Where QSettings names a file for the store, the folders it is about to make for it, outermost
// first: they are the run's.
void noteFoldersMade(const QSettings &store, MadeFolders &madeFolders)
{
    if (store.fileName().isEmpty() || QFileInfo::exists(store.fileName()))
        return;
    QStringList missing;
    for (QString folder = QFileInfo(store.fileName()).absolutePath();
         !QFileInfo::exists(folder) && folder != QFileInfo(folder).absolutePath();
         folder = QFileInfo(folder).absolutePath())
        missing.prepend(folder);
    for (const QString &folder : qAsConst(missing))
        if (!madeFolders.paths.contains(folder))
            madeFolders.paths.append(folder);
}

}  // namespace

StoreState storeState(const QString &organization, const QString &applicationName)
{
    // Only reading it tells whether QSettings can parse it, and reading it is harmless once its
    // values can be decoded. Without an organisation QSettings reports every store as failing:
    // only one it could not parse counts. A store without keys is there where QSettings names a
    // file for it that exists; elsewhere it cannot be told from none.
    prepareToDecodeValues();
    const std::unique_ptr<QSettings> store = settingsOf(organization, applicationName);
    if (!store->allKeys().isEmpty())
        return StoreState::Present;
    if (store->status() == QSettings::FormatError)
        return StoreState::Unsafe;
    return QFileInfo::exists(store->fileName()) ? StoreState::Present : StoreState::Absent;
}

StoreContent storeContent(const QString &organization, const QString &applicationName, QString *cause)
{
    // Read as a store to be carried is read, so that what Qt says while it decodes the values
    // counts for this store.
    bool unreadable = false;
    const std::unique_ptr<QSettings> store = openStore(organization, applicationName, &unreadable);
    if (unreadable) {
        tell(cause, QStringLiteral("not a store Qt can parse"));
        return StoreContent::NotRead;
    }
    return store && !store->allKeys().isEmpty() ? StoreContent::Keys : StoreContent::NoKeys;
}

std::unique_ptr<QSettings> storeObject(const QString &organization, const QString &applicationName)
{
    return settingsOf(organization, applicationName);
}

bool listStores(const QString &, const QString &, QStringList *)
{
    return false;
}

Qt::CaseSensitivity storeNameCase()
{
    return Qt::CaseSensitive;
}

Carried carryStore(const QString &organization, const QString &fromApplicationName, const QString &toApplicationName,
                   MadeFolders &madeFolders, QStringList *leftOut, QString *cause)
{
    QStringList keysLeftOut;
    if (!leftOut)
        leftOut = &keysLeftOut;
    leftOut->clear();
    const std::unique_ptr<QSettings> source = openStore(organization, fromApplicationName);
    if (!source) {
        tell(cause, QStringLiteral("not a store Qt can parse, or gone"));
        return Carried::NotRead;
    }
    const QVector<std::pair<QString, QVariant>> values =
        decodableValues(*source, decodeFailedIn(organization, fromApplicationName), leftOut);

    const std::unique_ptr<QSettings> destination = settingsOf(organization, toApplicationName);
    // Without an organisation QSettings reports every store as failing from the start: there only
    // what a fresh store object reads back tells.
    const QSettings::Status before = destination->status();
    // Values of its own that Qt could not decode it would write back as nothing: left as it is.
    if (openStore(organization, toApplicationName) && decodeFailedIn(organization, toApplicationName)) {
        tell(cause, QStringLiteral("it holds values this program cannot decode, which it would write back changed"));
        return Carried::NotWritten;
    }
    noteFoldersMade(*destination, madeFolders);
    for (const auto &[key, value] : values)
        destination->setValue(key, value);
    destination->sync();
    bool written = destination->status() == before;
    const std::unique_ptr<QSettings> reread =
        before == QSettings::NoError ? nullptr : settingsOf(organization, toApplicationName);
    for (const auto &[key, value] : values) {
        const QVariant stored = (reread ? reread : destination)->value(key);
        written = written && (stored == value || serialized(stored) == serialized(value));
    }
    if (!written)
        tell(cause, statusCause(destination->status()));
    return written ? Carried::Copied : Carried::NotWritten;
}

bool replaceStore(const QString &organization, const QString &applicationName, const QMap<QString, QString> &texts,
                  MadeFolders &madeFolders, QString *cause)
{
    const std::unique_ptr<QSettings> store = settingsOf(organization, applicationName);
    // (Asking whether the store is writable makes its folder already.)
    noteFoldersMade(*store, madeFolders);
    if (!store->isWritable()) {
        tell(cause, QStringLiteral("QSettings reports it not writable"));
        return false;
    }
    store->clear();
    for (auto text = texts.cbegin(); text != texts.cend(); ++text)
        store->setValue(text.key(), text.value());
    store->sync();
    if (store->status() != QSettings::NoError)
        tell(cause, statusCause(store->status()));
    return store->status() == QSettings::NoError;
}

bool storeWritable(const QString &organization, const QString &applicationName, MadeFolders &madeFolders)
{
    // One that holds keys is left as it is: QSettings' own answer, which writes nothing, tells.
    // Otherwise one is written and removed again, or, where the storage is full, QSettings answers.
    const StoreState state = storeState(organization, applicationName);
    if (state == StoreState::Unsafe ||
        (state != StoreState::Absent && !settingsOf(organization, applicationName)->allKeys().isEmpty()))
        return settingsOf(organization, applicationName)->isWritable();
    const bool writable = replaceStore(organization, applicationName, {}, madeFolders) ||
                          settingsOf(organization, applicationName)->isWritable();
    removeStore(organization, applicationName, madeFolders);
    return writable;
}

void removeStore(const QString &organization, const QString &applicationName, MadeFolders &madeFolders)
{
    const std::unique_ptr<QSettings> store = settingsOf(organization, applicationName);
    noteFoldersMade(*store, madeFolders);
    store->clear();
    store->sync();
    // Where QSettings names a file for the store, an empty one goes.
    const QFileInfo file(store->fileName());
    if (file.isFile() && file.size() == 0)
        QFile::remove(file.filePath());
}

void removeCreatedFolders(MadeFolders &madeFolders)
{
    // Only while it is empty: a store written meanwhile by anyone stays, and its folder with it.
    for (auto folder = madeFolders.paths.crbegin(); folder != madeFolders.paths.crend(); ++folder)
        QDir().rmdir(*folder);
    madeFolders.paths.clear();
}
