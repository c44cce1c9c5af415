// The registry commands of a case's setup and check lines, on keys below HKEY_LOCAL_MACHINE, for
// what `reg` cannot do: `sddl <key> <SDDL>` sets a key's owner and DACL; `same-sddl <key> <key>`
// succeeds when both keys have the same; `link <key> <target>` makes a registry link, `is-link
// <key>` succeeds when the key is one, `absent <key>` when there is none; `delete <key>` removes a
// key and all below it whatever their rights, links without what they lead to. The kill campaign's
// registry tool (bench/) runs them too.

#include <QStringList>

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <string>
#include <vector>

extern "C" LONG NTAPI NtDeleteKey(HANDLE key);
extern "C" LONG NTAPI RtlAdjustPrivilege(ULONG privilege, BOOLEAN enable, BOOLEAN thread, BOOLEAN *enabled);

namespace {

// Privileges an administrator has but does not hold enabled: to take over and hand on keys (taking
// ownership, restoring and backing up files).
void enablePrivileges()
{
    BOOLEAN enabled = FALSE;
    for (const ULONG privilege : {9, 17, 18})
        RtlAdjustPrivilege(privilege, TRUE, FALSE, &enabled);
}

// Sets the owner and DACL the SDDL text names.
LONG setSddl(const std::wstring &key, const std::wstring &text)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(text.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
        return static_cast<LONG>(GetLastError());
    HKEY handle = nullptr;
    LONG result = RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), REG_OPTION_OPEN_LINK,
                                READ_CONTROL | WRITE_DAC | WRITE_OWNER, &handle);
    if (result == ERROR_SUCCESS) {
        result = RegSetKeySecurity(handle, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, descriptor);
        RegCloseKey(handle);
    }
    LocalFree(descriptor);
    return result;
}

}  // namespace

// The key's owner and DACL as SDDL, or an empty text.
std::wstring sddlOf(const std::wstring &key)
{
    const SECURITY_INFORMATION parts = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    wchar_t *text = nullptr;
    std::wstring sddl;
    if (GetNamedSecurityInfoW((L"MACHINE\\" + key).c_str(), SE_REGISTRY_KEY, parts, nullptr, nullptr, nullptr, nullptr,
                              &descriptor) == ERROR_SUCCESS &&
        ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1, parts, &text, nullptr))
        sddl = text;
    LocalFree(text);
    LocalFree(descriptor);
    return sddl;
}

namespace {

LONG makeLink(const std::wstring &key, const std::wstring &target)
{
    HKEY handle = nullptr;
    LONG result = RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, REG_OPTION_CREATE_LINK,
                                  KEY_ALL_ACCESS | KEY_CREATE_LINK, nullptr, &handle, nullptr);
    if (result != ERROR_SUCCESS)
        return result;
    const std::wstring path = L"\\REGISTRY\\MACHINE\\" + target;
    result = RegSetValueExW(handle, L"SymbolicLinkValue", 0, REG_LINK, reinterpret_cast<const BYTE *>(path.c_str()),
                            static_cast<DWORD>(path.size() * sizeof(wchar_t)));
    RegCloseKey(handle);
    return result;
}

// Removes a key as itself and all below it, whatever their rights (the administrators take each
// over first); a link goes without what it leads to.
LONG removeKey(const std::wstring &key, int depth = 0)
{
    if (depth > 512)
        return ERROR_BADKEY;
    HKEY handle = nullptr;
    const auto open = [&] {
        return RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), REG_OPTION_OPEN_LINK, KEY_ALL_ACCESS, &handle);
    };
    LONG result = open();
    if (result == ERROR_ACCESS_DENIED && setSddl(key, L"O:BAD:(A;;KA;;;BA)") == 0)
        result = open();
    if (result != ERROR_SUCCESS)
        return result == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : result;
    DWORD type = REG_NONE;
    std::vector<std::wstring> subkeys;
    std::vector<wchar_t> name(32768);
    if (RegQueryValueExW(handle, L"SymbolicLinkValue", nullptr, &type, nullptr, nullptr) != ERROR_SUCCESS ||
        type != REG_LINK) {
        for (DWORD index = 0, size = name.size();
             RegEnumKeyExW(handle, index, name.data(), &size, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
             ++index, size = name.size())
            subkeys.push_back(key + L'\\' + std::wstring(name.data(), size));
    }
    for (auto subkey = subkeys.cbegin(); result == ERROR_SUCCESS && subkey != subkeys.cend(); ++subkey)
        result = removeKey(*subkey, depth + 1);
    if (result == ERROR_SUCCESS && NtDeleteKey(handle) != 0)
        result = ERROR_ACCESS_DENIED;
    RegCloseKey(handle);
    return result;
}

}  // namespace

// Runs one command; the registry's error code, or -1 for a command it does not know.
long registryCommand(const QStringList &words)
{
    enablePrivileges();
    std::vector<std::wstring> arguments(static_cast<size_t>(words.size()));
    std::transform(words.cbegin(), words.cend(), arguments.begin(), [](const QString &w) { return w.toStdWString(); });
    if (arguments.size() == 3 && arguments[0] == L"sddl")
        return setSddl(arguments[1], arguments[2]);
    if (arguments.size() == 3 && arguments[0] == L"same-sddl")  // an error code where they differ
        return !sddlOf(arguments[1]).empty() && sddlOf(arguments[1]) == sddlOf(arguments[2]) ? 0 : 1;
    if (arguments.size() == 3 && arguments[0] == L"link")
        return makeLink(arguments[1], arguments[2]);
    if (arguments.size() == 2 && (arguments[0] == L"is-link" || arguments[0] == L"absent")) {
        HKEY handle = nullptr;
        DWORD type = REG_NONE;
        LONG result =
            RegOpenKeyExW(HKEY_LOCAL_MACHINE, arguments[1].c_str(), REG_OPTION_OPEN_LINK, KEY_QUERY_VALUE, &handle);
        if (arguments[0] == L"absent")
            return result == ERROR_FILE_NOT_FOUND ? 0 : 1;
        if (result == ERROR_SUCCESS) {
            result = RegQueryValueExW(handle, L"SymbolicLinkValue", nullptr, &type, nullptr, nullptr);
            RegCloseKey(handle);
        }
        return result == ERROR_SUCCESS && type == REG_LINK ? 0 : 1;
    }
    return arguments.size() == 2 && arguments[0] == L"delete" ? removeKey(arguments[1]) : -1;
}
