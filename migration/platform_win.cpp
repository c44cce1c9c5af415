// Where stores are registry keys: HKEY_LOCAL_MACHINE\Software\<organisation>\<store>, as Qt keeps
// system-scope settings on Windows (the native view of a 64-bit process; WOW6432Node is not read).
//
// Stores are read through QSettings only to find out whether they hold settings. Everything that
// is written goes through the registry's own functions, value by value as it is stored: QSettings
// would read text beginning with "@" as one of its own markers and write it back changed, and it
// cannot name values called "Default" or "." or holding a backslash.

#include "migration.h"

#include <QSettings>

#include <windows.h>

#include <algorithm>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

namespace {

// How many levels of subkeys below a store are walked; a store deeper than that is not read.
constexpr int deepestLevel = 64;
// How often a key is read again when it changes while it is read.
constexpr int readAttempts = 3;

const wchar_t *wide(const QString &text)
{
    return reinterpret_cast<const wchar_t *>(text.utf16());
}

QString fromWide(const wchar_t *text, DWORD size)
{
    return QString::fromWCharArray(text, static_cast<int>(size));
}

struct KeyCloser {
    void operator()(HKEY key) const { RegCloseKey(key); }
};
using Key = std::unique_ptr<std::remove_pointer_t<HKEY>, KeyCloser>;

// The path of a store below HKEY_LOCAL_MACHINE, one key name each: "Software", the organisation's
// and the store's (an application name holding backslashes places its stores in subkeys, as Qt
// does). Empty where Qt keeps no stores: for an empty organisation.
QStringList storePath(const QString &organization, const QString &applicationName)
{
    if (organization.isEmpty())
        return {};
    return QStringList{QStringLiteral("Software")} + organization.split(QLatin1Char('\\')) +
           applicationName.split(QLatin1Char('\\'));
}

// A subkey opened as itself: a link is opened, not followed.
Key openOwnKey(HKEY parent, const QString &name, REGSAM access, LONG *result)
{
    HKEY key = nullptr;
    *result = RegOpenKeyExW(parent, wide(name), REG_OPTION_OPEN_LINK, access, &key);
    return *result == ERROR_SUCCESS ? Key(key) : nullptr;
}

// Whether a key opened as itself is a registry link: it holds the path of its target.
bool isLink(HKEY key)
{
    DWORD type = REG_NONE;
    return RegQueryValueExW(key, L"SymbolicLinkValue", nullptr, &type, nullptr, nullptr) == ERROR_SUCCESS &&
           type == REG_LINK;
}

enum class Found { Key, Absent, Link, Unreadable };

// Opens a path below HKEY_LOCAL_MACHINE name by name, following no link on the way: a link, or a
// key that cannot be opened, is said instead.
Found openPath(const QStringList &path, REGSAM access, Key *opened)
{
    Key parent;
    for (int level = 0; level < path.size(); ++level) {
        const bool last = level == path.size() - 1;
        LONG result = ERROR_SUCCESS;
        Key key = openOwnKey(parent ? parent.get() : HKEY_LOCAL_MACHINE, path.at(level),
                             (last ? access : KEY_ENUMERATE_SUB_KEYS) | KEY_QUERY_VALUE, &result);
        if (result == ERROR_FILE_NOT_FOUND)
            return Found::Absent;
        if (!key)
            return Found::Unreadable;
        if (level > 0 && isLink(key.get()))  // HKEY_LOCAL_MACHINE\Software itself is the system's
            return Found::Link;
        parent = std::move(key);
    }
    *opened = std::move(parent);
    return Found::Key;
}

// One value as the registry keeps it.
struct Value {
    std::vector<wchar_t> name;  // terminated
    DWORD type = REG_NONE;
    QByteArray data;
};

// A key of a store: its place below the store ("" for the store's own), its values and who may
// do what with it.
struct StoreKey {
    QString path;
    int parent = -1;  // index of the key it lies in
    std::vector<Value> values;
    QByteArray security;  // owner and DACL, self-relative
};

// Reads every value of a key whole, names and data of any length. False when one cannot be read
// whole, or its name would not survive being written back (one holding a NUL character).
bool readValues(HKEY key, std::vector<Value> *values)
{
    for (int attempt = 0; attempt < readAttempts; ++attempt) {
        DWORD count = 0;
        DWORD longestName = 0;
        DWORD largestData = 0;
        if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, &longestName,
                             &largestData, nullptr, nullptr) != ERROR_SUCCESS)
            return false;
        values->clear();
        std::vector<wchar_t> name(longestName + 1);
        QByteArray data(static_cast<int>(qMax<DWORD>(largestData, 1)), Qt::Uninitialized);
        bool changed = false;
        for (DWORD index = 0;; ++index) {
            auto nameSize = static_cast<DWORD>(name.size());
            auto dataSize = static_cast<DWORD>(data.size());
            DWORD type = REG_NONE;
            const LONG result = RegEnumValueW(key, index, name.data(), &nameSize, nullptr, &type,
                                              reinterpret_cast<BYTE *>(data.data()), &dataSize);
            if (result == ERROR_NO_MORE_ITEMS)
                break;
            if (result == ERROR_MORE_DATA) {  // a longer name or larger value written meanwhile
                changed = true;
                break;
            }
            if (result != ERROR_SUCCESS)
                return false;
            Value value;
            value.name.assign(name.data(), name.data() + nameSize);
            if (std::find(value.name.cbegin(), value.name.cend(), L'\0') != value.name.cend())
                return false;
            value.name.push_back(L'\0');
            value.type = type;
            value.data = data.left(static_cast<int>(dataSize));
            values->push_back(std::move(value));
        }
        if (!changed)
            return true;
    }
    return false;
}

// The names of a key's subkeys, whole.
bool readSubkeys(HKEY key, QStringList *names)
{
    for (int attempt = 0; attempt < readAttempts; ++attempt) {
        DWORD longest = 0;
        if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, &longest, nullptr, nullptr, nullptr, nullptr,
                             nullptr, nullptr) != ERROR_SUCCESS)
            return false;
        names->clear();
        std::vector<wchar_t> name(longest + 1);
        bool changed = false;
        for (DWORD index = 0;; ++index) {
            auto size = static_cast<DWORD>(name.size());
            const LONG result = RegEnumKeyExW(key, index, name.data(), &size, nullptr, nullptr, nullptr, nullptr);
            if (result == ERROR_NO_MORE_ITEMS)
                break;
            if (result == ERROR_MORE_DATA) {
                changed = true;
                break;
            }
            if (result != ERROR_SUCCESS)
                return false;
            const QString subkey = fromWide(name.data(), size);
            if (subkey.contains(QChar(0)))
                return false;
            names->append(subkey);
        }
        if (!changed)
            return true;
    }
    return false;
}

QByteArray securityOf(HKEY key)
{
    const SECURITY_INFORMATION parts = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    DWORD size = 0;
    for (int attempt = 0; attempt < readAttempts; ++attempt) {
        QByteArray descriptor(static_cast<int>(size), Qt::Uninitialized);
        const LONG result = RegGetKeySecurity(key, parts, size ? descriptor.data() : nullptr, &size);
        if (result == ERROR_SUCCESS)
            return descriptor;
        if (result != ERROR_INSUFFICIENT_BUFFER)
            return {};
    }
    return {};
}

enum class Walk { Read, NotRead };

// Walks a store, `deepestLevel` levels at most, following no link: every key it holds, parents
// before the keys they hold, with their values and rights where `withValues`. Not read: a key that
// cannot be opened or read whole, a link, a store deeper than that.
Walk walkStore(Key store, bool withValues, std::vector<StoreKey> *keys)
{
    struct Level {
        Key key;
        int index;
        QStringList subkeys;
        int next;
    };
    std::vector<Level> levels;
    const auto enter = [&](Key key, const QString &path, int parent) {
        StoreKey read;
        read.path = path;
        read.parent = parent;
        QStringList subkeys;
        if (!readSubkeys(key.get(), &subkeys))
            return false;
        if (withValues) {
            read.security = securityOf(key.get());
            if (read.security.isEmpty() || !readValues(key.get(), &read.values))
                return false;
        }
        keys->push_back(std::move(read));
        levels.push_back({std::move(key), static_cast<int>(keys->size()) - 1, subkeys, 0});
        return true;
    };
    if (!enter(std::move(store), QString(), -1))
        return Walk::NotRead;
    while (!levels.empty()) {
        Level &level = levels.back();
        if (level.next == level.subkeys.size()) {
            levels.pop_back();
            continue;
        }
        const QString name = level.subkeys.at(level.next++);
        if (static_cast<int>(levels.size()) > deepestLevel)
            return Walk::NotRead;
        LONG result = ERROR_SUCCESS;
        Key subkey = openOwnKey(level.key.get(), name, KEY_READ, &result);
        if (result == ERROR_FILE_NOT_FOUND)
            continue;  // removed meanwhile
        if (!subkey || isLink(subkey.get()))
            return Walk::NotRead;
        const QString &parentPath = keys->at(static_cast<std::size_t>(level.index)).path;
        const QString path = parentPath.isEmpty() ? name : parentPath + QLatin1Char('\\') + name;
        if (!enter(std::move(subkey), path, level.index))
            return Walk::NotRead;
    }
    return Walk::Read;
}

// The keys of organisations (and of the folders of application names holding a backslash) that
// this run created, in the order they were made.
QList<QStringList> &createdKeys()
{
    // cppcheck-suppress unassignedVariable
    static QList<QStringList> keys;
    return keys;
}

Key openOrCreate(HKEY parent, const QString &name, REGSAM access, const QByteArray &security, bool *created);

// Opens or creates the keys of a path below HKEY_LOCAL_MACHINE but its last, name by name,
// following no link; takes note of those it creates.
Key createParents(const QStringList &path)
{
    Key parent;
    for (int level = 0; level < path.size() - 1; ++level) {
        bool created = false;
        Key opened =
            openOrCreate(parent ? parent.get() : HKEY_LOCAL_MACHINE, path.at(level),
                         KEY_CREATE_SUB_KEY | KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS, QByteArray(), &created);
        if (!opened)
            return nullptr;
        if (created)
            createdKeys().append(path.mid(0, level + 1));
        parent = std::move(opened);
    }
    return parent;
}

// Opens a subkey to write into it, as itself, or creates it with the given rights (where not
// null). A link is never opened for writing.
Key openOrCreate(HKEY parent, const QString &name, REGSAM access, const QByteArray &security, bool *created)
{
    *created = false;
    LONG result = ERROR_SUCCESS;
    Key existing = openOwnKey(parent, name, access | KEY_QUERY_VALUE, &result);
    if (existing)
        return isLink(existing.get()) ? nullptr : std::move(existing);
    if (result != ERROR_FILE_NOT_FOUND)
        return nullptr;
    SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
    QByteArray descriptor = security;
    attributes.lpSecurityDescriptor = descriptor.isEmpty() ? nullptr : descriptor.data();
    HKEY key = nullptr;
    DWORD disposition = 0;
    if (RegCreateKeyExW(parent, wide(name), 0, nullptr, 0, access | KEY_QUERY_VALUE | WRITE_DAC | WRITE_OWNER,
                        descriptor.isEmpty() ? nullptr : &attributes, &key, &disposition) != ERROR_SUCCESS)
        return nullptr;
    Key opened(key);
    *created = disposition == REG_CREATED_NEW_KEY;
    if (!*created) {
        // Made by someone else a moment ago, perhaps as a link that the creation followed: opened
        // again as itself.
        opened = openOwnKey(parent, name, access | KEY_QUERY_VALUE, &result);
        return opened && !isLink(opened.get()) ? std::move(opened) : nullptr;
    }
    // The rights exactly as the source's: the registry may have added inherited entries to those
    // given at creation, or ignored them. Where the owner cannot be handed on, the key stays its
    // creator's, as every key this process creates.
    if (!descriptor.isEmpty() &&
        RegSetKeySecurity(opened.get(), OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, descriptor.data()) !=
            ERROR_SUCCESS &&
        RegSetKeySecurity(opened.get(), DACL_SECURITY_INFORMATION, descriptor.data()) != ERROR_SUCCESS)
        return nullptr;
    return opened;
}

// Writes a value and reads it back: the same type and bytes must be there.
bool writeValue(HKEY key, const Value &value)
{
    if (RegSetValueExW(key, value.name.data(), 0, value.type, reinterpret_cast<const BYTE *>(value.data.constData()),
                       static_cast<DWORD>(value.data.size())) != ERROR_SUCCESS)
        return false;
    DWORD type = REG_NONE;
    auto size = static_cast<DWORD>(value.data.size() + 1);
    QByteArray written(static_cast<int>(size), Qt::Uninitialized);
    return RegQueryValueExW(key, value.name.data(), nullptr, &type, reinterpret_cast<BYTE *>(written.data()), &size) ==
               ERROR_SUCCESS &&
           type == value.type && written.left(static_cast<int>(size)) == value.data;
}

// Whether a key holds no value and no subkey.
bool holdsNothing(HKEY key)
{
    DWORD subkeys = 1;
    DWORD values = 1;
    return RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr,
                            nullptr, nullptr) == ERROR_SUCCESS &&
           subkeys == 0 && values == 0;
}

// Writes the keys of a store read by walkStore into the store `name` below `parent`. A new store
// takes its source's rights, key by key: where it is created, the key Software would hand read
// access to every user. An existing store keeps its own, and the keys created in it take theirs
// from it. A store this made that could not be written whole goes again.
bool writeKeys(HKEY parent, const QString &name, const std::vector<StoreKey> &keys)
{
    bool storeCreated = false;
    std::vector<Key> written;
    written.reserve(keys.size());
    for (const StoreKey &key : keys) {
        bool created = false;
        HKEY into = key.parent < 0 ? parent : written.at(static_cast<std::size_t>(key.parent)).get();
        const QString keyName = key.parent < 0 ? name : key.path.mid(key.path.lastIndexOf(QLatin1Char('\\')) + 1);
        Key opened = openOrCreate(into, keyName, KEY_READ | KEY_WRITE,
                                  storeCreated || key.parent < 0 ? key.security : QByteArray(), &created);
        storeCreated = storeCreated || (key.parent < 0 && created);
        const bool whole = opened && std::all_of(key.values.cbegin(), key.values.cend(),
                                                 [&](const Value &value) { return writeValue(opened.get(), value); });
        if (!whole) {
            written.clear();
            if (storeCreated)
                RegDeleteTreeW(parent, wide(name));
            return false;
        }
        written.push_back(std::move(opened));
    }
    return true;
}

}  // namespace

StoreState storeState(const QString &organization, const QString &applicationName)
{
    const QStringList path = storePath(organization, applicationName);
    if (path.isEmpty())
        return StoreState::Absent;
    Key store;
    switch (openPath(path, KEY_READ, &store)) {
    case Found::Absent:
        return StoreState::Absent;
    case Found::Link:
        return StoreState::Linked;
    case Found::Unreadable:
        return StoreState::Unsafe;
    case Found::Key:
        break;
    }
    // QSettings would follow a link inside the store out of it, and round a loop for ever.
    std::vector<StoreKey> keys;
    return walkStore(std::move(store), false, &keys) == Walk::Read ? StoreState::Present : StoreState::Unsafe;
}

StoreContent storeContent(const QString &organization, const QString &applicationName)
{
    switch (storeState(organization, applicationName)) {
    case StoreState::Absent:
        return StoreContent::NoKeys;
    case StoreState::Unsafe:
        return StoreContent::NotRead;
    case StoreState::Present:
    case StoreState::Linked:
        break;
    }
    const std::unique_ptr<QSettings> store = storeObject(organization, applicationName);
    if (!store->allKeys().isEmpty())
        return StoreContent::Keys;
    return store->status() == QSettings::NoError ? StoreContent::NoKeys : StoreContent::NotRead;
}

std::unique_ptr<QSettings> storeObject(const QString &organization, const QString &applicationName)
{
    // Qt reads the registry value by value as it is asked, never from a copy of its own. Without
    // an organisation it reads and writes nothing.
    if (organization.isEmpty())
        return std::make_unique<QSettings>(QString(), QSettings::NativeFormat);
    return std::make_unique<QSettings>(QStringLiteral("\\HKEY_LOCAL_MACHINE\\Software\\") + organization +
                                           QLatin1Char('\\') + applicationName,
                                       QSettings::NativeFormat);
}

bool listStores(const QString &organization, const QString &applicationName, QStringList *storeNames)
{
    if (organization.isEmpty())
        return true;  // no store at all
    // The stores of an application whose name holds a backslash are subkeys of a key named by
    // what comes before the last one. Key names are listed as the registry has them: QSettings
    // would list a name holding "/" with "\\".
    const QString prefix = applicationName.left(applicationName.lastIndexOf(QLatin1Char('\\')) + 1);
    const QString folder = QStringLiteral("Software\\") + organization +
                           (prefix.isEmpty() ? QString() : QLatin1Char('\\') + prefix.chopped(1));
    HKEY key = nullptr;
    const LONG opened = RegOpenKeyExW(HKEY_LOCAL_MACHINE, wide(folder), 0, KEY_READ, &key);
    if (opened == ERROR_FILE_NOT_FOUND)
        return true;  // no store at all
    if (opened != ERROR_SUCCESS)
        return false;  // every candidate is probed
    const Key listed(key);
    QStringList names;
    if (!readSubkeys(listed.get(), &names))
        return false;
    for (const QString &name : names)
        storeNames->append(prefix + name);
    return true;
}

Qt::CaseSensitivity storeNameCase()
{
    return Qt::CaseInsensitive;
}

Carried carryStore(const QString &organization, const QString &fromApplicationName, const QString &toApplicationName)
{
    const QStringList from = storePath(organization, fromApplicationName);
    const QStringList to = storePath(organization, toApplicationName);
    if (from.isEmpty())
        return Carried::NotWritten;  // Qt keeps no stores without an organisation
    // The whole source is read before anything is written.
    Key source;
    std::vector<StoreKey> keys;
    if (openPath(from, KEY_READ, &source) != Found::Key || walkStore(std::move(source), true, &keys) != Walk::Read)
        return Carried::NotRead;
    const StoreState destination = storeState(organization, toApplicationName);
    const Key parent =
        destination == StoreState::Absent || destination == StoreState::Present ? createParents(to) : nullptr;
    return parent && writeKeys(parent.get(), to.last(), keys) ? Carried::Copied : Carried::NotWritten;
}

bool replaceStore(const QString &organization, const QString &applicationName, const QMap<QString, QString> &texts)
{
    const QStringList path = storePath(organization, applicationName);
    const StoreState state = storeState(organization, applicationName);
    if (path.isEmpty() || (state != StoreState::Absent && state != StoreState::Present))
        return false;
    const Key parent = createParents(path);
    bool created = false;
    const Key store =
        parent ? openOrCreate(parent.get(), path.last(), KEY_READ | KEY_WRITE, QByteArray(), &created) : nullptr;
    std::vector<Value> before;
    QStringList subkeys;
    if (!store || !readValues(store.get(), &before) || !readSubkeys(store.get(), &subkeys))
        return false;
    // Each text is one value, written whole or not at all; then the store holds nothing else.
    bool written = true;
    for (auto text = texts.cbegin(); text != texts.cend(); ++text) {
        const std::wstring name = text.key().toStdWString();
        Value value{{name.cbegin(), name.cend()}, REG_SZ, {}};
        value.name.push_back(L'\0');
        value.data = QByteArray(reinterpret_cast<const char *>(text.value().utf16()), (text.value().size() + 1) * 2);
        written = written && writeValue(store.get(), value);
    }
    const QStringList names = texts.keys();
    for (const Value &old : before) {
        const QString name = QString::fromWCharArray(old.name.data());
        const bool replaced = std::any_of(names.cbegin(), names.cend(), [&](const QString &each) {
            return each.compare(name, Qt::CaseInsensitive) == 0;  // value names ignore case
        });
        written = written && (replaced || RegDeleteValueW(store.get(), old.name.data()) == ERROR_SUCCESS);
    }
    // The store holds no link (its state says so): its subkeys go whole.
    for (const QString &subkey : subkeys)
        written = written && RegDeleteTreeW(store.get(), wide(subkey)) == ERROR_SUCCESS;
    return written;
}

bool storeWritable(const QString &organization, const QString &applicationName)
{
    // A store written and removed again: what a migration does, as the caller's rights allow it.
    const bool written = replaceStore(organization, applicationName, {});
    removeStore(organization, applicationName);
    return written;
}

void removeStore(const QString &organization, const QString &applicationName)
{
    // Only a store that holds no link is removed: the registry's removal would follow one and
    // empty what it leads to.
    if (storeState(organization, applicationName) != StoreState::Present)
        return;
    const QStringList path = storePath(organization, applicationName);
    Key parent;
    if (openPath(path.mid(0, path.size() - 1), KEY_READ | KEY_WRITE, &parent) == Found::Key)
        RegDeleteTreeW(parent.get(), wide(path.last()));
}

void removeCreatedFolders()
{
    // Innermost first; a key anyone wrote into meanwhile stays.
    QList<QStringList> &created = createdKeys();
    for (auto path = created.crbegin(); path != created.crend(); ++path) {
        Key key;
        Key parent;
        if (openPath(*path, KEY_READ, &key) == Found::Key && holdsNothing(key.get()) &&
            openPath(path->mid(0, path->size() - 1), KEY_READ | KEY_WRITE, &parent) == Found::Key) {
            key.reset();
            RegDeleteKeyW(parent.get(), wide(path->last()));
        }
    }
    created.clear();
}
