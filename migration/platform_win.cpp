// Where stores are registry keys: HKEY_LOCAL_MACHINE\Software\<organisation>\<store>, as Qt keeps
// system-scope settings on Windows (the native view of a 64-bit process; WOW6432Node is not read).
//
// The stores of applications are read and written through the registry's own functions alone, value
// by value as it is stored, and never written through a link: QSettings would read text beginning
// with "@" as one of its own markers and write it back changed, cannot name values called "Default"
// or "." or holding a backslash, and opens a key by creating it, following any link on the way. A
// store key that is itself a link is read through, as QSettings reads it, but no link on the way
// to it or inside it is followed. Only this program's own stores (the records) are read through
// QSettings.
//
// A new store (a record too) is written whole under a name of its own, "SettingsMigrator partial <process id>
// <process start>", each key created with its source's rights, and renamed to the store's name
// once it is: a run killed meanwhile leaves no part of the store, only that key, which a later
// run removes. The handles that wrote it keep the access they were created with, so a store whose
// rights let administrators only read it is still written whole.

#include "migration.h"

#include <QSettings>

#include <windows.h>

#include <winternl.h>

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

enum class Found { Key, Absent, Link, Unreadable, LinkedKey, LinkToNothing };

// Opens a path below HKEY_LOCAL_MACHINE name by name, following no link on the way: a link, or a
// key that cannot be opened, is said instead. With `followLast`, a link at the path's end is
// followed (LinkedKey), or said to lead nowhere it may go (LinkToNothing).
Found openPath(const QStringList &path, REGSAM access, Key *opened, bool followLast = false)
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
        if (level > 0 && isLink(key.get())) {  // HKEY_LOCAL_MACHINE\Software itself is the system's
            HKEY target = nullptr;
            if (!last || !followLast)
                return Found::Link;
            if (RegOpenKeyExW(parent.get(), wide(path.at(level)), 0, access | KEY_QUERY_VALUE, &target) !=
                ERROR_SUCCESS)
                return Found::LinkToNothing;
            *opened = Key(target);
            return Found::LinkedKey;
        }
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

// The names of a key's subkeys, whole; and how many values it holds, where asked.
bool readSubkeys(HKEY key, QStringList *names, DWORD *values = nullptr)
{
    for (int attempt = 0; attempt < readAttempts; ++attempt) {
        DWORD longest = 0;
        if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, &longest, nullptr, values, nullptr, nullptr,
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

// Reads one key of a store for walkStore: the names of its subkeys, and its values and rights
// where `withValues`; sets `holdsValues` where it holds any value.
bool readStoreKey(HKEY key, bool withValues, StoreKey *read, QStringList *subkeys, bool *holdsValues)
{
    DWORD values = 0;
    if (!readSubkeys(key, subkeys, &values))
        return false;
    if (holdsValues && values > 0)
        *holdsValues = true;
    if (withValues) {
        read->security = securityOf(key);
        if (read->security.isEmpty() || !readValues(key, &read->values))
            return false;
    }
    return true;
}

enum class Walk { Read, NotRead };

// Walks a store, `deepestLevel` levels at most, following no link: every key it holds, parents
// before the keys they hold, with their values and rights where `withValues`; otherwise only
// whether any key holds a value (`holdsValues`), counted, not read. Not read: a key that cannot be
// opened or read whole, a link, a store deeper than that.
Walk walkStore(Key store, bool withValues, std::vector<StoreKey> *keys, bool *holdsValues = nullptr)
{
    struct Level {
        Key key;
        int index;
        QStringList subkeys;
        int next;
    };
    std::vector<Level> levels;
    const auto enter = [&](Key key, const QString &path, int parent) {
        StoreKey read{path, parent, {}, {}};
        QStringList subkeys;
        if (!readStoreKey(key.get(), withValues, &read, &subkeys, holdsValues))
            return false;
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

Key openOrCreate(HKEY parent, const QString &name, REGSAM access, bool *created);

// Opens or creates the keys of a path below HKEY_LOCAL_MACHINE but its last, name by name,
// following no link; takes note of those it creates (organisations', and the folders of
// application names holding a backslash), as their paths below HKEY_LOCAL_MACHINE.
Key createParents(const QStringList &path, MadeFolders &madeFolders)
{
    Key parent;
    for (int level = 0; level < path.size() - 1; ++level) {
        bool created = false;
        Key opened = openOrCreate(parent ? parent.get() : HKEY_LOCAL_MACHINE, path.at(level),
                                  KEY_CREATE_SUB_KEY | KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS, &created);
        if (!opened)
            return nullptr;
        if (created)
            madeFolders.paths.append(path.mid(0, level + 1).join(QLatin1Char('\\')));
        parent = std::move(opened);
    }
    return parent;
}

// Opens a subkey to write into it, as itself, or creates it with the rights its parent hands
// down. A link is never opened for writing.
Key openOrCreate(HKEY parent, const QString &name, REGSAM access, bool *created)
{
    *created = false;
    LONG result = ERROR_SUCCESS;
    Key existing = openOwnKey(parent, name, access | KEY_QUERY_VALUE, &result);
    if (existing)
        return isLink(existing.get()) ? nullptr : std::move(existing);
    if (result != ERROR_FILE_NOT_FOUND)
        return nullptr;
    HKEY key = nullptr;
    DWORD disposition = 0;
    if (RegCreateKeyExW(parent, wide(name), 0, nullptr, 0, access | KEY_QUERY_VALUE, nullptr, &key, &disposition) !=
        ERROR_SUCCESS)
        return nullptr;
    Key opened(key);
    *created = disposition == REG_CREATED_NEW_KEY;
    if (!*created) {
        // Made by someone else a moment ago, perhaps as a link that the creation followed: opened
        // again as itself.
        opened = openOwnKey(parent, name, access | KEY_QUERY_VALUE, &result);
        return opened && !isLink(opened.get()) ? std::move(opened) : nullptr;
    }
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

// A function of ntdll's that works on a key through a handle, where the registry's own functions
// would open the key again by name, and be refused what its rights do not grant.
template <typename Function> Function ntdllFunction(const char *name)
{
    return reinterpret_cast<Function>(reinterpret_cast<void *>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), name)));
}

bool deleteKey(HKEY key)
{
    using Delete = LONG(NTAPI *)(HANDLE);
    static const auto ntDeleteKey = ntdllFunction<Delete>("NtDeleteKey");
    return ntDeleteKey && ntDeleteKey(key) == 0;
}

bool renameKey(HKEY key, const QString &name)
{
    using Rename = LONG(NTAPI *)(HANDLE, UNICODE_STRING *);
    static const auto ntRenameKey = ntdllFunction<Rename>("NtRenameKey");
    std::wstring text = name.toStdWString();
    const auto bytes = static_cast<USHORT>(text.size() * sizeof(wchar_t));
    UNICODE_STRING string{bytes, bytes, text.data()};
    return ntRenameKey && ntRenameKey(key, &string) == 0;
}

// When a process started, as Windows counts time: with its id, it tells a process from a later
// one given the same id.
quint64 startOf(HANDLE process)
{
    FILETIME started{};
    FILETIME unused{};
    if (!GetProcessTimes(process, &started, &unused, &unused, &unused))
        return 0;
    return (quint64{started.dwHighDateTime} << 32) | started.dwLowDateTime;
}

QString partialPrefix()
{
    return QStringLiteral("SettingsMigrator partial ");
}

// The name this process writes a new store under until it is whole.
QString partialName()
{
    return partialPrefix() + QString::number(GetCurrentProcessId()) + QLatin1Char(' ') +
           QString::number(startOf(GetCurrentProcess()), 16);
}

// Whether the process that named a partial store is still at work on it.
bool writerAlive(const QString &name)
{
    const QStringList words = name.mid(partialPrefix().size()).split(QLatin1Char(' '));
    bool number = false;
    const DWORD id = words.value(0).toULong(&number);
    const quint64 started = words.value(1).toULongLong(nullptr, 16);
    if (words.size() != 2 || !number || name == partialName())
        return false;  // (one this process could not remove)
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
    if (!process)
        return GetLastError() == ERROR_ACCESS_DENIED;  // someone's, at work
    DWORD status = 0;
    const bool alive = GetExitCodeProcess(process, &status) && status == STILL_ACTIVE && startOf(process) == started;
    CloseHandle(process);
    return alive;
}

// Gives a key's owner full access to it and nothing to anyone else: a key the run created keeps
// its creator as owner, or an owner the run was given, and the owner may always change the rights.
bool grantOwner(HKEY key)
{
    const QByteArray descriptor = securityOf(key);
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    if (descriptor.isEmpty() ||
        !GetSecurityDescriptorOwner(const_cast<char *>(descriptor.constData()), &owner, &defaulted) || !owner)
        return false;
    std::vector<char> acl(sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + GetLengthSid(owner));
    auto *list = reinterpret_cast<ACL *>(acl.data());
    SECURITY_DESCRIPTOR granting{};
    return InitializeAcl(list, static_cast<DWORD>(acl.size()), ACL_REVISION) &&
           AddAccessAllowedAce(list, ACL_REVISION, KEY_ALL_ACCESS, owner) &&
           InitializeSecurityDescriptor(&granting, SECURITY_DESCRIPTOR_REVISION) &&
           SetSecurityDescriptorDacl(&granting, TRUE, list, FALSE) &&
           RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &granting) == ERROR_SUCCESS;
}

// Removes a partial store left by a run that was killed, whatever rights it was given, key by key.
bool removePartial(HKEY parent, const QString &name, int depth = 0)
{
    const REGSAM access = KEY_READ | DELETE;
    LONG result = ERROR_SUCCESS;
    Key key = openOwnKey(parent, name, access, &result);
    if (result == ERROR_ACCESS_DENIED) {
        const Key owned = openOwnKey(parent, name, READ_CONTROL | WRITE_DAC, &result);
        if (owned && grantOwner(owned.get()))
            key = openOwnKey(parent, name, access, &result);
    }
    if (!key || depth > deepestLevel)
        return result == ERROR_FILE_NOT_FOUND;
    QStringList subkeys;
    if (!isLink(key.get()) && !readSubkeys(key.get(), &subkeys))
        return false;
    return std::all_of(subkeys.cbegin(), subkeys.cend(),
                       [&](const QString &subkey) { return removePartial(key.get(), subkey, depth + 1); }) &&
           deleteKey(key.get());
}

void removeLeftovers(HKEY parent)
{
    QStringList names;
    if (!readSubkeys(parent, &names))
        return;
    for (const QString &name : qAsConst(names))
        if (name.startsWith(partialPrefix()) && !writerAlive(name))
            removePartial(parent, name);
}

// Creates a key with the given rights, exactly (the registry may add inherited entries to those
// given at creation, or ignore them), or without any, with those its parent hands down; with every
// access to it; null where it exists already. Where the owner cannot be handed on, the key stays
// its creator's, as every key this process creates.
Key createKey(HKEY parent, const QString &name, const QByteArray &security)
{
    if (security.isEmpty()) {
        HKEY key = nullptr;
        DWORD disposition = 0;
        if (RegCreateKeyExW(parent, wide(name), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, &disposition) !=
            ERROR_SUCCESS)
            return nullptr;
        Key created(key);
        return disposition == REG_CREATED_NEW_KEY ? std::move(created) : nullptr;
    }
    QByteArray descriptor = security;
    SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), descriptor.data(), FALSE};
    HKEY key = nullptr;
    DWORD disposition = 0;
    LONG result = RegCreateKeyExW(parent, wide(name), 0, nullptr, 0, KEY_ALL_ACCESS, &attributes, &key, &disposition);
    if (result == ERROR_INVALID_OWNER)  // an owner this process may not hand on: set below, without it
        result = RegCreateKeyExW(parent, wide(name), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, &disposition);
    if (result != ERROR_SUCCESS)
        return nullptr;
    Key created(key);
    if (disposition != REG_CREATED_NEW_KEY)
        return nullptr;
    if (RegSetKeySecurity(key, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, descriptor.data()) !=
            ERROR_SUCCESS &&
        RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor.data()) != ERROR_SUCCESS) {
        deleteKey(key);
        return nullptr;
    }
    return created;
}

enum class NewStore { Written, NotWritten, Taken };

// Writes the keys of a store read by walkStore as the new store `name` below `parent`: every key
// with its source's owner and DACL, rather than what HKEY_LOCAL_MACHINE\Software hands down to new
// keys (read access for every user). An empty key of that name (`replacingEmpty`) goes once the
// store is whole, and the store takes its place. Taken: another writer made the store meanwhile.
NewStore writeNewStore(HKEY parent, const QString &name, const std::vector<StoreKey> &keys, bool replacingEmpty)
{
    removeLeftovers(parent);
    std::vector<Key> written;
    written.reserve(keys.size());
    const auto removeWritten = [&](NewStore outcome) {
        for (auto key = written.rbegin(); key != written.rend(); ++key)  // innermost first
            deleteKey(key->get());
        return outcome;
    };
    for (const StoreKey &key : keys) {
        HKEY into = key.parent < 0 ? parent : written.at(static_cast<std::size_t>(key.parent)).get();
        const QString keyName =
            key.parent < 0 ? partialName() : key.path.mid(key.path.lastIndexOf(QLatin1Char('\\')) + 1);
        Key created = createKey(into, keyName, key.security);
        if (!created)
            return removeWritten(NewStore::NotWritten);
        written.push_back(std::move(created));
        if (!std::all_of(key.values.cbegin(), key.values.cend(),
                         [&](const Value &value) { return writeValue(written.back().get(), value); }))
            return removeWritten(NewStore::NotWritten);
    }
    if (replacingEmpty) {
        // (A value written into it since it was found empty stops it from going.)
        LONG result = ERROR_SUCCESS;
        const Key empty = openOwnKey(parent, name, KEY_READ | DELETE, &result);
        if (empty && (isLink(empty.get()) || !holdsNothing(empty.get()) || !deleteKey(empty.get())))
            return removeWritten(NewStore::NotWritten);
    }
    if (renameKey(written.front().get(), name))
        return NewStore::Written;
    LONG result = ERROR_SUCCESS;
    return removeWritten(openOwnKey(parent, name, KEY_QUERY_VALUE, &result) ? NewStore::Taken : NewStore::NotWritten);
}

// The value of that name as a key holds it now, if it holds one (`holds`). False where it cannot
// be read.
bool readValue(HKEY key, const Value &named, Value *value, bool *holds)
{
    for (int attempt = 0; attempt < readAttempts; ++attempt) {
        DWORD size = 0;
        LONG result = RegQueryValueExW(key, named.name.data(), nullptr, &value->type, nullptr, &size);
        *holds = result != ERROR_FILE_NOT_FOUND;
        if (result != ERROR_SUCCESS)
            return !*holds;
        value->data.resize(static_cast<int>(size));
        result = RegQueryValueExW(key, named.name.data(), nullptr, &value->type,
                                  reinterpret_cast<BYTE *>(value->data.data()), &size);
        if (result == ERROR_SUCCESS) {
            value->name = named.name;
            value->data.resize(static_cast<int>(size));
            return true;
        }
        if (result != ERROR_MORE_DATA)  // (else larger meanwhile)
            return false;
    }
    return false;
}

// The name of a key read by walkStore within the key it lies in: `storeName` for the store's own.
QString lastName(const std::vector<StoreKey> &keys, std::size_t index, const QString &storeName)
{
    const QString &path = keys.at(index).path;
    return index == 0 ? storeName : path.mid(path.lastIndexOf(QLatin1Char('\\')) + 1);
}

// Opens the keys of the existing store `name` below `parent` that the keys read by walkStore are
// written over, each with the access it needs, before any is written to; null where it is to be
// created. False where one cannot be opened so, or is a link.
bool openForMerge(HKEY parent, const QString &name, const std::vector<StoreKey> &keys, std::vector<Key> *opened)
{
    std::vector<std::vector<std::size_t>> children(keys.size());
    for (std::size_t index = 1; index < keys.size(); ++index)
        children.at(static_cast<std::size_t>(keys.at(index).parent)).push_back(index);
    opened->reserve(keys.size());
    for (std::size_t index = 0; index < keys.size(); ++index) {
        const HKEY into = index == 0 ? parent : opened->at(static_cast<std::size_t>(keys.at(index).parent)).get();
        if (!into) {
            opened->emplace_back();
            continue;
        }
        REGSAM access = KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS | (keys.at(index).values.empty() ? 0 : KEY_SET_VALUE);
        LONG result = ERROR_SUCCESS;
        Key key = openOwnKey(into, lastName(keys, index, name), access, &result);
        if (!key && result == ERROR_FILE_NOT_FOUND && index > 0) {
            opened->emplace_back();
            continue;
        }
        QStringList subkeys;
        if (!key || isLink(key.get()) || !readSubkeys(key.get(), &subkeys))
            return false;
        const std::vector<std::size_t> &within = children.at(index);
        if (std::any_of(within.cbegin(), within.cend(), [&](std::size_t child) {
                return !subkeys.contains(lastName(keys, child, name), Qt::CaseInsensitive);
            })) {
            key = openOwnKey(into, lastName(keys, index, name), access | KEY_CREATE_SUB_KEY, &result);
            if (!key || isLink(key.get()))
                return false;
        }
        opened->push_back(std::move(key));
    }
    return true;
}

// Writes the values of the keys read by walkStore into those openForMerge opened, creating the
// keys it left null. On failure, what was replaced is put back, what was added removed.
bool writeOver(const std::vector<StoreKey> &keys, const std::vector<Key> &opened, const QString &name)
{
    std::vector<std::pair<HKEY, Value>> replaced;
    std::vector<std::pair<HKEY, const Value *>> added;
    std::vector<Key> created;
    const auto putBack = [&] {
        for (auto value = replaced.crbegin(); value != replaced.crend(); ++value)
            writeValue(value->first, value->second);
        for (auto value = added.crbegin(); value != added.crend(); ++value)
            RegDeleteValueW(value->first, value->second->name.data());
        for (auto key = created.rbegin(); key != created.rend(); ++key)  // innermost first
            deleteKey(key->get());
        return false;
    };
    std::vector<HKEY> handles(keys.size(), nullptr);
    for (std::size_t index = 0; index < keys.size(); ++index) {
        handles.at(index) = opened.at(index).get();
        if (!handles.at(index)) {  // with the rights its parent hands down
            Key key = createKey(handles.at(static_cast<std::size_t>(keys.at(index).parent)),
                                lastName(keys, index, name), QByteArray());
            if (!key)
                return putBack();
            created.push_back(std::move(key));
            handles.at(index) = created.back().get();
        }
        for (const Value &value : keys.at(index).values) {
            Value held;
            bool holds = false;
            if (opened.at(index) && !readValue(handles.at(index), value, &held, &holds))
                return putBack();
            if (holds && held.type == value.type && held.data == value.data)
                continue;  // (as a run cut short left it)
            if (holds)
                replaced.emplace_back(handles.at(index), std::move(held));
            else
                added.emplace_back(handles.at(index), &value);
            if (!writeValue(handles.at(index), value))
                return putBack();
        }
    }
    return true;
}

// Writes the values of the keys read by walkStore over those of the existing store `name` below
// `parent`: each replaces the value of the same name, the store's other values stay, and keys it
// lacks are created in it, taking their rights from it. Every key to be written is opened for
// what will be done to it before the first value is written, and a write that fails puts back
// what the others replaced: a store not written is left as it was.
bool mergeIntoStore(HKEY parent, const QString &name, const std::vector<StoreKey> &keys)
{
    std::vector<Key> opened;
    return openForMerge(parent, name, keys, &opened) && writeOver(keys, opened, name);
}

// Why a store could not be read or written, in plain words, for the line after the error line.
// Returns `result`, for the caller to hand on.
template <typename Result> Result failed(QString *cause, const QString &why, Result result)
{
    if (cause && cause->isEmpty())
        *cause = why;
    return result;
}

// The system's own text for a registry error code, without its closing full stop.
QString systemError(LONG code)
{
    wchar_t *text = nullptr;
    const DWORD size =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    QString message = size ? QString::fromWCharArray(text, static_cast<int>(size)).trimmed() : QString();
    LocalFree(text);
    if (message.endsWith(QLatin1Char('.')))
        message.chop(1);
    return message.isEmpty() ? QStringLiteral("registry error %1").arg(code) : message;
}

const QString linkCause = QStringLiteral("a registry link on the way to it, never followed");
const QString linkToNothingCause = QStringLiteral("a registry link to nothing, or to a key this process may not read");
const QString unreadableCause =
    QStringLiteral("it is, or holds, a registry link, a key this process may not read, or more than 64 levels of "
                   "subkeys");
const QString unwritableCause =
    QStringLiteral("a key of it could not be created or written (no write access?); what was written is put back");

const QString inPlaceCause = QStringLiteral("a registry link, or a key this process may not read, stands in its place");

// Whether a store may be written where it is: it is absent, or a key of its own holding no link.
bool writableInPlace(const QString &organization, const QString &applicationName)
{
    const StoreState state = storeState(organization, applicationName);
    return state == StoreState::Absent || state == StoreState::Present;
}

// Reads the whole of a store to carry it, through a link where it is one. False, with why, where
// it cannot be read whole.
bool readWholeStore(const QStringList &path, std::vector<StoreKey> *keys, QString *cause)
{
    Key store;
    const Found found = openPath(path, KEY_READ, &store, true);
    if (found == Found::LinkToNothing)
        return failed(cause, linkToNothingCause, false);
    if ((found != Found::Key && found != Found::LinkedKey) || walkStore(std::move(store), true, keys) != Walk::Read)
        return failed(cause, unreadableCause, false);
    return true;
}

// A store holding the texts, each one value.
StoreKey textStore(const QMap<QString, QString> &texts)
{
    StoreKey store;
    for (auto text = texts.cbegin(); text != texts.cend(); ++text) {
        const std::wstring name = text.key().toStdWString();
        Value value{{name.cbegin(), name.cend()}, REG_SZ, {}};
        value.name.push_back(L'\0');
        value.data = QByteArray(reinterpret_cast<const char *>(text.value().utf16()), (text.value().size() + 1) * 2);
        store.values.push_back(std::move(value));
    }
    return store;
}

// Removes from a store whose values `kept` has just been written over what it held before and
// `kept` does not: the other values, and every subkey. False where one stays.
bool removeOthers(HKEY store, const std::vector<Value> &before, const QStringList &subkeys, const StoreKey &kept)
{
    bool removed = true;
    for (const Value &old : before) {
        const bool keeps = std::any_of(kept.values.cbegin(), kept.values.cend(), [&](const Value &value) {
            return QString::fromWCharArray(value.name.data())
                       .compare(QString::fromWCharArray(old.name.data()), Qt::CaseInsensitive) == 0;  // as names do
        });
        removed = removed && (keeps || RegDeleteValueW(store, old.name.data()) == ERROR_SUCCESS);
    }
    // The store holds no link (its state says so): its subkeys go whole.
    for (const QString &subkey : subkeys)
        removed = removed && RegDeleteTreeW(store, wide(subkey)) == ERROR_SUCCESS;
    return removed;
}

}  // namespace

StoreState storeState(const QString &organization, const QString &applicationName)
{
    const QStringList path = storePath(organization, applicationName);
    if (path.isEmpty())
        return StoreState::Absent;
    Key store;
    const Found found = openPath(path, KEY_READ, &store, true);
    switch (found) {
    case Found::Absent:
        return StoreState::Absent;
    case Found::Link:  // never opened through: QSettings would create where it leads, or walk a loop
    case Found::LinkToNothing:
    case Found::Unreadable:
        return StoreState::Unsafe;
    case Found::Key:
    case Found::LinkedKey:
        break;
    }
    // Nor is a link inside the store ever followed out of it.
    std::vector<StoreKey> keys;
    if (walkStore(std::move(store), false, &keys) != Walk::Read)
        return StoreState::Unsafe;
    return found == Found::LinkedKey ? StoreState::Linked : StoreState::Present;
}

StoreContent storeContent(const QString &organization, const QString &applicationName, QString *cause)
{
    const QStringList path = storePath(organization, applicationName);
    if (path.isEmpty())
        return StoreContent::NoKeys;
    Key store;
    switch (openPath(path, KEY_READ, &store, true)) {
    case Found::Absent:
        return StoreContent::NoKeys;
    case Found::Link:
        return failed(cause, linkCause, StoreContent::NotRead);
    case Found::LinkToNothing:
        return failed(cause, linkToNothingCause, StoreContent::NotRead);
    case Found::Unreadable:
        return failed(cause, unreadableCause, StoreContent::NotRead);
    case Found::Key:
    case Found::LinkedKey:
        break;
    }
    // Every key is looked at even after one holds a value, since a link or a key that cannot be
    // read anywhere in the store leaves the whole store unread; values are counted, never read,
    // the unnamed one too, as QSettings counts it (".").
    bool holdsValues = false;
    std::vector<StoreKey> keys;
    if (walkStore(std::move(store), false, &keys, &holdsValues) != Walk::Read)
        return failed(cause, unreadableCause, StoreContent::NotRead);
    return holdsValues ? StoreContent::Keys : StoreContent::NoKeys;
}

std::unique_ptr<QSettings> storeObject(const QString &organization, const QString &applicationName)
{
    // Used for this program's own stores alone, which openStore has found to be keys of their own,
    // and only to read them. Qt reads the registry value by value as it is asked, never from a
    // copy of its own. Without an organisation it reads nothing.
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
    QStringList folder = storePath(organization, prefix + QLatin1Char('x'));
    folder.removeLast();
    Key listed;
    switch (openPath(folder, KEY_READ, &listed)) {
    case Found::Absent:
    case Found::Link:  // no store is read through a link on the way to it
    case Found::LinkedKey:
    case Found::LinkToNothing:
        return true;
    case Found::Unreadable:
        return false;  // every candidate is probed
    case Found::Key:
        break;
    }
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

Carried carryStore(const QString &organization, const QString &fromApplicationName, const QString &toApplicationName,
                   MadeFolders &madeFolders, QStringList *leftOut, QString *cause)
{
    if (leftOut)
        leftOut->clear();  // every value is carried as it is stored
    const QStringList from = storePath(organization, fromApplicationName);
    const QStringList to = storePath(organization, toApplicationName);
    if (from.isEmpty())  // Qt keeps no stores without an organisation
        return failed(cause, QStringLiteral("Qt keeps no store in the registry without an organisation"),
                      Carried::NotWritten);
    // The whole source is read before anything is written.
    std::vector<StoreKey> keys;
    if (!readWholeStore(from, &keys, cause))
        return Carried::NotRead;
    // A store that holds no value and no subkey counts as new (an empty key a QSettings object
    // made): it gets its source's rights. Another writer may make the store while it is written.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!writableInPlace(organization, toApplicationName))
            return failed(cause, inPlaceCause, Carried::NotWritten);
        const Key parent = createParents(to, madeFolders);
        if (!parent)
            return failed(cause, QStringLiteral("its organisation's key cannot be created or opened for writing"),
                          Carried::NotWritten);
        LONG result = ERROR_SUCCESS;
        const Key existing = openOwnKey(parent.get(), to.last(), KEY_QUERY_VALUE, &result);
        if (!existing && result != ERROR_FILE_NOT_FOUND)
            return failed(cause, systemError(result), Carried::NotWritten);
        if (existing && !holdsNothing(existing.get()))
            return mergeIntoStore(parent.get(), to.last(), keys) ? Carried::Copied
                                                                 : failed(cause, unwritableCause, Carried::NotWritten);
        switch (writeNewStore(parent.get(), to.last(), keys, existing != nullptr)) {
        case NewStore::Written:
            return Carried::Copied;
        case NewStore::NotWritten:
            return failed(cause, unwritableCause, Carried::NotWritten);
        case NewStore::Taken:
            break;
        }
    }
    return failed(cause, QStringLiteral("another writer made and removed it while it was written"),
                  Carried::NotWritten);
}

bool replaceStore(const QString &organization, const QString &applicationName, const QMap<QString, QString> &texts,
                  MadeFolders &madeFolders, QString *cause)
{
    const QStringList path = storePath(organization, applicationName);
    const bool inPlace = writableInPlace(organization, applicationName);
    if (path.isEmpty())
        return failed(cause, QStringLiteral("Qt keeps no store in the registry without an organisation"), false);
    if (!inPlace)
        return failed(cause, inPlaceCause, false);
    StoreKey store = textStore(texts);
    const Key parent = createParents(path, madeFolders);
    LONG result = ERROR_SUCCESS;
    Key existing = parent ? openOwnKey(parent.get(), path.last(), KEY_READ | KEY_WRITE, &result) : nullptr;
    std::vector<Value> before;
    QStringList subkeys;
    if (!parent || (!existing && result != ERROR_FILE_NOT_FOUND) ||
        (existing && (!readValues(existing.get(), &before) || !readSubkeys(existing.get(), &subkeys))))
        return failed(cause, QStringLiteral("its key cannot be created or opened for writing (no write access?)"),
                      false);
    if (!existing || (before.empty() && subkeys.isEmpty())) {
        // A new store, or an empty key in its place (whose rights it keeps), is written whole under
        // a name of its own and renamed: a run killed meanwhile leaves none of it.
        if (existing)
            store.security = securityOf(existing.get());
        const bool replacingEmpty = existing != nullptr;
        existing.reset();
        switch (writeNewStore(parent.get(), path.last(), {store}, replacingEmpty)) {
        case NewStore::Written:
            return true;
        case NewStore::NotWritten:
            return failed(cause, unwritableCause, false);
        case NewStore::Taken:
            break;
        }
        return failed(cause, QStringLiteral("another writer made it while it was written"), false);
    }
    // Over values: each replaced, all put back should one fail; then the store holds nothing else.
    if (!mergeIntoStore(parent.get(), path.last(), {store}))
        return failed(cause, unwritableCause, false);
    return removeOthers(existing.get(), before, subkeys, store) ||
           failed(cause, QStringLiteral("a value it held before could not be removed"), false);
}

bool storeWritable(const QString &organization, const QString &applicationName, MadeFolders &madeFolders)
{
    // One that holds values is asked for the access a write takes; otherwise one is written and
    // removed again (an empty one left by a run killed meanwhile with it): what a migration does,
    // as the caller's rights allow it.
    if (storeState(organization, applicationName) == StoreState::Present &&
        storeContent(organization, applicationName) == StoreContent::Keys) {
        Key store;
        return openPath(storePath(organization, applicationName), KEY_WRITE, &store) == Found::Key;
    }
    const bool written = replaceStore(organization, applicationName, {}, madeFolders);
    removeStore(organization, applicationName, madeFolders);
    return written;
}

void removeStore(const QString &organization, const QString &applicationName, MadeFolders &)
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

void removeCreatedFolders(MadeFolders &madeFolders)
{
    // Innermost first; a key anyone wrote into meanwhile stays.
    for (auto made = madeFolders.paths.crbegin(); made != madeFolders.paths.crend(); ++made) {
        const QStringList path = made->split(QLatin1Char('\\'));
        Key key;
        Key parent;
        if (openPath(path, KEY_READ, &key) == Found::Key && holdsNothing(key.get()) &&
            openPath(path.mid(0, path.size() - 1), KEY_READ | KEY_WRITE, &parent) == Found::Key) {
            key.reset();
            RegDeleteKeyW(parent.get(), wide(path.last()));
        }
    }
    madeFolders.paths.clear();
}
