// Where stores are registry keys: HKEY_LOCAL_MACHINE\Software\<organisation>\<store>, as Qt keeps
// system-scope settings on Windows.

#include "migration.h"

#include <QSettings>

#include <windows.h>

#include <array>
#include <memory>
#include <utility>
#include <vector>

namespace {

// Qt reads an organisation's stores from none at all when the organisation is empty.
QString organizationKey(const QString &organization)
{
    return organization.isEmpty() ? QString() : QStringLiteral("Software\\") + organization;
}

const wchar_t *wide(const QString &text)
{
    return reinterpret_cast<const wchar_t *>(text.utf16());
}

struct KeyCloser {
    void operator()(HKEY key) const { RegCloseKey(key); }
};
using Key = std::unique_ptr<std::remove_pointer_t<HKEY>, KeyCloser>;

Key openKey(const QString &path, REGSAM access)
{
    HKEY key = nullptr;
    if (path.isEmpty() || RegOpenKeyExW(HKEY_LOCAL_MACHINE, wide(path), 0, access, &key) != ERROR_SUCCESS)
        return nullptr;
    return Key(key);
}

// QSettings names a registry value by its key path with "/" and "\\" swapped: "a/b/c" is the
// value "c" of the subkey "a\\b"; "Default" and "." name a key's unnamed default value.
QString swapSlashes(QString path)
{
    for (QChar &character : path) {
        if (character == QLatin1Char('/'))
            character = QLatin1Char('\\');
        else if (character == QLatin1Char('\\'))
            character = QLatin1Char('/');
    }
    return path;
}

// A key for a value QSettings cannot name: its subkey below the store and its own name, as the
// registry has them, behind a character no key of QSettings begins with.
const QChar registryNameMark(1);

QString registryNameKey(const QString &path, const QString &valueName)
{
    return registryNameMark + path + registryNameMark + valueName;
}

std::pair<QString, QString> splitKey(const QString &key)
{
    if (key.startsWith(registryNameMark)) {
        const int mark = key.indexOf(registryNameMark, 1);
        return {key.mid(1, mark - 1), key.mid(mark + 1)};
    }
    const QString path = swapSlashes(key);
    const int slash = path.lastIndexOf(QLatin1Char('\\'));
    QString valueName = path.mid(slash + 1);
    if (valueName == QLatin1String("Default") || valueName == QLatin1String("."))
        valueName.clear();
    return {path.left(qMax(slash, 0)), valueName};
}

// Whether QSettings writes the value back as it is stored: a string it reads whole (UTF-16,
// terminated once, nothing after the terminator) and numbers of their proper size. Everything
// else (expandable strings, binary data, string lists, values without type) it changes.
bool keptByQSettings(DWORD type, const QByteArray &data)
{
    switch (type) {
    case REG_SZ: {
        const int characters = data.size() / 2;
        if (data.size() % 2 != 0 || characters == 0)
            return false;
        const auto *text = reinterpret_cast<const ushort *>(data.constData());
        for (int i = 0; i < characters - 1; ++i)
            if (text[i] == 0)
                return false;
        return text[characters - 1] == 0;
    }
    case REG_DWORD:
        return data.size() == 4;
    case REG_QWORD:
        return data.size() == 8;
    default:
        return false;
    }
}

// Where the store is kept: opened there, QSettings reads that one key and no fallback.
QString storeLocation(const QString &organization, const QString &applicationName)
{
    const QString key = organizationKey(organization);
    return key.isEmpty() ? QString()
                         : QStringLiteral("\\HKEY_LOCAL_MACHINE\\") + key + QLatin1Char('\\') + applicationName;
}

}  // namespace

StoreState storeState(const QString &organization, const QString &applicationName)
{
    const QString key = organizationKey(organization);
    return !key.isEmpty() && openKey(key + QLatin1Char('\\') + applicationName, KEY_READ) ? StoreState::Present
                                                                                          : StoreState::Absent;
}

bool listStores(const QString &organization, const QString &, QStringList *storeNames)
{
    const QString key = organizationKey(organization);
    if (key.isEmpty())
        return true;  // no store at all
    HKEY handle = nullptr;
    const LONG opened = RegOpenKeyExW(HKEY_LOCAL_MACHINE, wide(key), 0, KEY_READ, &handle);
    if (opened == ERROR_FILE_NOT_FOUND)
        return true;  // no store at all
    if (opened != ERROR_SUCCESS)
        return false;  // e.g. not readable by the caller: every candidate is probed
    RegCloseKey(handle);
    storeNames->append(QSettings(QStringLiteral("HKEY_LOCAL_MACHINE\\") + key, QSettings::NativeFormat).childGroups());
    return true;
}

std::unique_ptr<QSettings> storeObject(const QString &organization, const QString &applicationName, bool)
{
    // Qt reads the registry value by value as it is asked, never from a copy of its own.
    return std::make_unique<QSettings>(storeLocation(organization, applicationName), QSettings::NativeFormat);
}

Qt::CaseSensitivity storeNameCase()
{
    return Qt::CaseInsensitive;
}

// A new key takes its access rights from its parent key, as every key written through the
// registry does, and an existing one keeps its own.
QVariantList prepareStoreAccess(const QString &, const QString &, const QString &, bool)
{
    return {};
}

void restoreStoreAccess(const QString &, const QString &, const QVariantList &) {}

namespace {

// Adds the QSettings keys of the values below `path` (a key of the store, "" for the store's own)
// that QSettings would change.
void collectKeptOnlyAsStored(const QString &storeKey, const QString &path, QStringList *keys)
{
    const Key key = openKey(storeKey + (path.isEmpty() ? QString() : QLatin1Char('\\') + path), KEY_READ);
    if (!key)
        return;
    std::vector<wchar_t> name(16384);               // the longest name a registry value may have
    QByteArray data(64 * 1024, Qt::Uninitialized);  // grown for larger values
    for (DWORD index = 0;; ++index) {
        auto nameSize = static_cast<DWORD>(name.size());
        DWORD type = 0;
        auto size = static_cast<DWORD>(data.size());
        LONG result = RegEnumValueW(key.get(), index, name.data(), &nameSize, nullptr, &type,
                                    reinterpret_cast<BYTE *>(data.data()), &size);
        if (result == ERROR_MORE_DATA) {
            data.resize(static_cast<int>(size));
            nameSize = static_cast<DWORD>(name.size());
            result = RegEnumValueW(key.get(), index, name.data(), &nameSize, nullptr, &type,
                                   reinterpret_cast<BYTE *>(data.data()), &size);
        }
        if (result == ERROR_NO_MORE_ITEMS)
            break;
        if (result != ERROR_SUCCESS)
            continue;
        const QString rawName = QString::fromWCharArray(name.data(), static_cast<int>(nameSize));
        // QSettings takes "Default" and "." for the unnamed value and a backslash for a subkey:
        // a value so named it cannot reach, so it goes by its registry name. (Under the name Qt
        // lists for it, it then stands for the unnamed value, which goes as it is stored too.)
        const bool unnamable =
            rawName == QLatin1String("Default") || rawName == QLatin1String(".") || rawName.contains(QLatin1Char('\\'));
        if (unnamable)
            keys->append(registryNameKey(path, rawName));
        if (!unnamable && keptByQSettings(type, data.left(static_cast<int>(size))))
            continue;
        const bool backslash = rawName.contains(QLatin1Char('\\'));
        const QString valueName = rawName.isEmpty() || (unnamable && !backslash) ? QStringLiteral(".") : rawName;
        keys->append(swapSlashes(path.isEmpty() ? valueName : path + QLatin1Char('\\') + valueName));
    }
    for (DWORD index = 0;; ++index) {
        DWORD nameSize = 256;  // the longest name a registry key may have
        std::array<wchar_t, 256> subkey{};
        const LONG result =
            RegEnumKeyExW(key.get(), index, subkey.data(), &nameSize, nullptr, nullptr, nullptr, nullptr);
        if (result == ERROR_NO_MORE_ITEMS)
            break;
        if (result == ERROR_SUCCESS) {
            const QString below = QString::fromWCharArray(subkey.data(), static_cast<int>(nameSize));
            collectKeptOnlyAsStored(storeKey, path.isEmpty() ? below : path + QLatin1Char('\\') + below, keys);
        }
    }
}

}  // namespace

QStringList keysKeptOnlyAsStored(const QString &organization, const QString &applicationName)
{
    QStringList keys;
    if (!organizationKey(organization).isEmpty())
        collectKeptOnlyAsStored(organizationKey(organization) + QLatin1Char('\\') + applicationName, QString(), &keys);
    return keys;
}

CopiedAsStored copyAsStored(const QString &organization, const QString &fromApplicationName,
                            const QString &toApplicationName, const QString &key)
{
    if (key.isEmpty() || organizationKey(organization).isEmpty())
        return CopiedAsStored::NotPossible;  // values go one by one
    const auto [subkey, valueName] = splitKey(key);
    const QString below = subkey.isEmpty() ? QString() : QLatin1Char('\\') + subkey;
    const Key source =
        openKey(organizationKey(organization) + QLatin1Char('\\') + fromApplicationName + below, KEY_READ);
    DWORD type = 0;
    DWORD size = 0;
    // A key that names no value of the store (a hand-edited "a//b") has nothing to copy, unless
    // it is QSettings' name of a value named "Default" or ".", which goes by its own name.
    if (!source || RegQueryValueExW(source.get(), wide(valueName), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) {
        const Key store = openKey(organizationKey(organization) + QLatin1Char('\\') + fromApplicationName, KEY_READ);
        const auto present = [](const Key &in, const QString &name) {
            return in && RegQueryValueExW(in.get(), wide(name), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
        };
        // (A value of the store's own named with a backslash is listed by QSettings under that
        // name with slashes, which it then takes for a subkey.)
        const bool standsForNamed =
            !key.startsWith(registryNameMark) && ((valueName.isEmpty() && (present(source, QStringLiteral("Default")) ||
                                                                           present(source, QStringLiteral(".")))) ||
                                                  present(store, swapSlashes(key)));
        return standsForNamed ? CopiedAsStored::Copied : CopiedAsStored::NotPossible;
    }
    QByteArray data(static_cast<int>(size), Qt::Uninitialized);
    if (RegQueryValueExW(source.get(), wide(valueName), nullptr, &type, reinterpret_cast<BYTE *>(data.data()), &size) !=
        ERROR_SUCCESS)
        return CopiedAsStored::Failed;
    HKEY destination = nullptr;
    const QString path = organizationKey(organization) + QLatin1Char('\\') + toApplicationName + below;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, wide(path), 0, nullptr, 0, KEY_WRITE, nullptr, &destination, nullptr) !=
        ERROR_SUCCESS)
        return CopiedAsStored::Failed;
    const bool written = RegSetValueExW(destination, wide(valueName), 0, type,
                                        reinterpret_cast<const BYTE *>(data.constData()), size) == ERROR_SUCCESS;
    RegCloseKey(destination);
    return written ? CopiedAsStored::Copied : CopiedAsStored::Failed;
}

void deleteStore(const QString &organization, const QString &applicationName)
{
    if (!organizationKey(organization).isEmpty())
        QSettings(storeLocation(organization, applicationName), QSettings::NativeFormat).remove(QString());
}

QStringList missingStoreFolders(const QString &organization)
{
    const QString key = organizationKey(organization);
    return key.isEmpty() || openKey(key, KEY_READ) ? QStringList() : QStringList{key};
}

void removeIfEmpty(const QStringList &storeFolders)
{
    // RegDeleteKeyW refuses a key that has subkeys; one without values is empty then.
    for (auto folder = storeFolders.crbegin(); folder != storeFolders.crend(); ++folder) {
        DWORD values = 1;
        const Key key = openKey(*folder, KEY_READ);
        if (key &&
            RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr,
                             nullptr, nullptr) == ERROR_SUCCESS &&
            values == 0)
            RegDeleteKeyW(HKEY_LOCAL_MACHINE, wide(*folder));
    }
}

void prepareProcess()
{
    // Writes to a pipe without reader fail on Windows; they never end the process. The Qt built
    // for Windows reports image decoding problems through Qt's own messages.
}

QStringList takeLibraryMessages()
{
    return {};
}
