// What the registry cases need beyond `reg`: keys' rights in SDDL, registry links, and removing
// keys whatever their rights and without following links. Keys are named below
// HKEY_LOCAL_MACHINE.
//
//   registry_tool sddl <key> <SDDL>     sets the owner, group and DACL the SDDL text names
//   registry_tool same-sddl <key> <key> succeeds when both have the same owner and DACL
//   registry_tool link <key> <target>   makes <key> a link to the key <target>
//   registry_tool delete <key>          removes the key and all below it; links go, their targets stay

#include <windows.h>

#include <sddl.h>
#include <shellapi.h>

#include <cstdio>
#include <string>
#include <vector>

extern "C" LONG NTAPI NtDeleteKey(HANDLE key);

namespace {

int fail(const wchar_t *what, LONG error)
{
    std::fwprintf(stderr, L"registry_tool: %ls failed (%ld)\n", what, error);
    return 1;
}

// Privileges an administrator has but does not hold enabled: to take over and hand on keys.
void enablePrivileges()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token))
        return;
    for (const wchar_t *name : {L"SeTakeOwnershipPrivilege", L"SeRestorePrivilege", L"SeBackupPrivilege"}) {
        TOKEN_PRIVILEGES privileges{};
        privileges.PrivilegeCount = 1;
        privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
        if (LookupPrivilegeValueW(nullptr, name, &privileges.Privileges[0].Luid))
            AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
    }
    CloseHandle(token);
}

int setSddl(const std::wstring &key, const std::wstring &text)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(text.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
        return fail(L"reading the SDDL", static_cast<LONG>(GetLastError()));
    SECURITY_INFORMATION parts = 0;
    if (text.find(L"O:") != std::wstring::npos)
        parts |= OWNER_SECURITY_INFORMATION;
    if (text.find(L"G:") != std::wstring::npos)
        parts |= GROUP_SECURITY_INFORMATION;
    if (text.find(L"D:") != std::wstring::npos)
        parts |= DACL_SECURITY_INFORMATION;
    HKEY handle = nullptr;
    LONG result = RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), REG_OPTION_OPEN_LINK,
                                READ_CONTROL | WRITE_DAC | WRITE_OWNER, &handle);
    if (result != ERROR_SUCCESS)
        return fail(L"opening the key", result);
    result = RegSetKeySecurity(handle, parts, descriptor);
    RegCloseKey(handle);
    LocalFree(descriptor);
    return result == ERROR_SUCCESS ? 0 : fail(L"setting the rights", result);
}

// The key's owner and DACL as SDDL, or an empty text.
std::wstring sddlOf(const std::wstring &key)
{
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), REG_OPTION_OPEN_LINK, READ_CONTROL, &handle) != ERROR_SUCCESS)
        return {};
    const SECURITY_INFORMATION parts = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    DWORD size = 0;
    RegGetKeySecurity(handle, parts, nullptr, &size);
    std::vector<BYTE> descriptor(size ? size : 1);
    const LONG result = RegGetKeySecurity(handle, parts, descriptor.data(), &size);
    RegCloseKey(handle);
    wchar_t *text = nullptr;
    if (result != ERROR_SUCCESS || !ConvertSecurityDescriptorToStringSecurityDescriptorW(
                                       descriptor.data(), SDDL_REVISION_1, parts, &text, nullptr))
        return {};
    const std::wstring sddl = text;
    LocalFree(text);
    return sddl;
}

int makeLink(const std::wstring &key, const std::wstring &target)
{
    HKEY handle = nullptr;
    LONG result = RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, REG_OPTION_CREATE_LINK,
                                  KEY_ALL_ACCESS | KEY_CREATE_LINK, nullptr, &handle, nullptr);
    if (result != ERROR_SUCCESS)
        return fail(L"creating the link", result);
    const std::wstring path = L"\\REGISTRY\\MACHINE\\" + target;
    result = RegSetValueExW(handle, L"SymbolicLinkValue", 0, REG_LINK, reinterpret_cast<const BYTE *>(path.c_str()),
                            static_cast<DWORD>(path.size() * sizeof(wchar_t)));
    RegCloseKey(handle);
    return result == ERROR_SUCCESS ? 0 : fail(L"setting the link's target", result);
}

bool isLink(HKEY key)
{
    DWORD type = REG_NONE;
    return RegQueryValueExW(key, L"SymbolicLinkValue", nullptr, &type, nullptr, nullptr) == ERROR_SUCCESS &&
           type == REG_LINK;
}

// Removes a key as itself, whatever its rights: it is handed to the administrators first.
LONG removeKey(HKEY parent, const std::wstring &name, int depth)
{
    if (depth > 512)
        return ERROR_BADKEY;
    HKEY handle = nullptr;
    LONG result = RegOpenKeyExW(parent, name.c_str(), REG_OPTION_OPEN_LINK, KEY_ALL_ACCESS | DELETE, &handle);
    if (result == ERROR_FILE_NOT_FOUND)
        return ERROR_SUCCESS;
    if (result == ERROR_ACCESS_DENIED) {
        HKEY owned = nullptr;
        PSECURITY_DESCRIPTOR open = nullptr;
        if (RegOpenKeyExW(parent, name.c_str(), REG_OPTION_OPEN_LINK, WRITE_OWNER | WRITE_DAC, &owned) ==
                ERROR_SUCCESS &&
            ConvertStringSecurityDescriptorToSecurityDescriptorW(L"O:BAD:(A;;KA;;;BA)", SDDL_REVISION_1, &open,
                                                                 nullptr)) {
            RegSetKeySecurity(owned, OWNER_SECURITY_INFORMATION, open);
            RegSetKeySecurity(owned, DACL_SECURITY_INFORMATION, open);
        }
        if (owned)
            RegCloseKey(owned);
        LocalFree(open);
        result = RegOpenKeyExW(parent, name.c_str(), REG_OPTION_OPEN_LINK, KEY_ALL_ACCESS | DELETE, &handle);
    }
    if (result != ERROR_SUCCESS)
        return result;
    if (!isLink(handle)) {
        std::vector<std::wstring> subkeys;
        std::vector<wchar_t> buffer(32768);
        for (DWORD index = 0;; ++index) {
            auto size = static_cast<DWORD>(buffer.size());
            if (RegEnumKeyExW(handle, index, buffer.data(), &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                break;
            subkeys.emplace_back(buffer.data(), size);
        }
        for (auto subkey = subkeys.cbegin(); result == ERROR_SUCCESS && subkey != subkeys.cend(); ++subkey)
            result = removeKey(handle, *subkey, depth + 1);
    }
    if (result == ERROR_SUCCESS)
        result = NtDeleteKey(handle) == 0 ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
    RegCloseKey(handle);
    return result;
}

}  // namespace

int main()
{
    int count = 0;
    wchar_t **arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    const std::vector<std::wstring> words(arguments, arguments + count);
    LocalFree(arguments);
    enablePrivileges();
    if (count == 4 && words[1] == L"sddl")
        return setSddl(words[2], words[3]);
    if (count == 4 && words[1] == L"same-sddl") {
        const std::wstring first = sddlOf(words[2]), second = sddlOf(words[3]);
        std::fwprintf(stderr, L"%ls\n%ls\n", first.c_str(), second.c_str());
        return !first.empty() && first == second ? 0 : 1;
    }
    if (count == 4 && words[1] == L"link")
        return makeLink(words[2], words[3]);
    if (count == 3 && words[1] == L"delete") {
        const LONG result = removeKey(HKEY_LOCAL_MACHINE, words[2], 0);
        return result == ERROR_SUCCESS ? 0 : fail(L"removing the key", result);
    }
    std::fwprintf(stderr, L"usage: registry_tool sddl <key> <SDDL> | same-sddl <key> <key> | link <key> <target> | "
                          L"delete <key>\n");
    return 2;
}
