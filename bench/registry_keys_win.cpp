// What the kill campaign under Wine needs of the registry beyond `reg`, on keys below
// HKEY_LOCAL_MACHINE:
//
//   registry_keys sddl <key> <SDDL>     sets the key's owner and DACL
//   registry_keys dump <key>            every key below it, itself included, sorted: its path, its
//                                       owner and DACL as SDDL, then each value: name, type, bytes
//   registry_keys delete <key>          removes it and all below it, whatever their rights
//
// Exit status 0 where it succeeded.

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

extern "C" LONG NTAPI NtDeleteKey(HANDLE key);
extern "C" LONG NTAPI RtlAdjustPrivilege(ULONG privilege, BOOLEAN enable, BOOLEAN thread, BOOLEAN *enabled);

namespace {

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

std::wstring sddlOf(const std::wstring &key)
{
    const SECURITY_INFORMATION parts = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    wchar_t *text = nullptr;
    std::wstring sddl = L"(no rights)";
    if (GetNamedSecurityInfoW((L"MACHINE\\" + key).c_str(), SE_REGISTRY_KEY, parts, nullptr, nullptr, nullptr, nullptr,
                              &descriptor) == ERROR_SUCCESS &&
        ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1, parts, &text, nullptr))
        sddl = text;
    LocalFree(text);
    LocalFree(descriptor);
    return sddl;
}

std::vector<std::wstring> subkeysOf(HKEY handle)
{
    std::vector<std::wstring> names;
    std::vector<wchar_t> name(32768);
    for (DWORD index = 0, size = static_cast<DWORD>(name.size());
         RegEnumKeyExW(handle, index, name.data(), &size, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
         ++index, size = static_cast<DWORD>(name.size()))
        names.emplace_back(name.data(), size);
    std::sort(names.begin(), names.end());
    return names;
}

// One line per key and per value; values sorted by name.
bool dump(const std::wstring &key, const std::wstring &path, int depth = 0)
{
    HKEY handle = nullptr;
    if (depth > 64 ||
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), REG_OPTION_OPEN_LINK, KEY_READ, &handle) != ERROR_SUCCESS)
        return false;
    wprintf(L"[%ls] %ls\n", path.c_str(), sddlOf(key).c_str());
    std::vector<std::wstring> lines;
    std::vector<wchar_t> name(32768);
    std::vector<BYTE> data(1 << 20);
    for (DWORD index = 0;; ++index) {
        DWORD nameSize = static_cast<DWORD>(name.size());
        DWORD dataSize = static_cast<DWORD>(data.size());
        DWORD type = REG_NONE;
        if (RegEnumValueW(handle, index, name.data(), &nameSize, nullptr, &type, data.data(), &dataSize) !=
            ERROR_SUCCESS)
            break;
        std::wstring line = L"  \"" + std::wstring(name.data(), nameSize) + L"\" " + std::to_wstring(type) + L" ";
        for (DWORD byte = 0; byte < dataSize; ++byte) {
            wchar_t hex[3];
            swprintf(hex, 3, L"%02x", data[byte]);
            line += hex;
        }
        lines.push_back(line);
    }
    std::sort(lines.begin(), lines.end());
    for (const std::wstring &line : lines)
        wprintf(L"%ls\n", line.c_str());
    const std::vector<std::wstring> subkeys = subkeysOf(handle);
    RegCloseKey(handle);
    bool whole = true;
    for (const std::wstring &subkey : subkeys)
        whole = dump(key + L'\\' + subkey, path + L'\\' + subkey, depth + 1) && whole;
    return whole;
}

LONG removeKey(const std::wstring &key, int depth = 0)
{
    if (depth > 64)
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
    const std::vector<std::wstring> subkeys = subkeysOf(handle);
    const bool emptied = std::all_of(subkeys.cbegin(), subkeys.cend(), [&](const std::wstring &subkey) {
        return (result = removeKey(key + L'\\' + subkey, depth + 1)) == ERROR_SUCCESS;
    });
    if (emptied && NtDeleteKey(handle) != 0)
        result = ERROR_ACCESS_DENIED;
    RegCloseKey(handle);
    return result;
}

}  // namespace

int wmain(int argc, wchar_t *argv[])
{
    BOOLEAN enabled = FALSE;
    for (const ULONG privilege : {9, 17, 18})  // taking ownership, backing up, restoring
        RtlAdjustPrivilege(privilege, TRUE, FALSE, &enabled);
    const std::wstring command = argc > 1 ? argv[1] : L"";
    if (argc == 4 && command == L"sddl")
        return setSddl(argv[2], argv[3]) == ERROR_SUCCESS ? 0 : 1;
    if (argc == 3 && command == L"dump")
        return dump(argv[2], L"") ? 0 : 1;
    if (argc == 3 && command == L"delete")
        return removeKey(argv[2]) == ERROR_SUCCESS ? 0 : 1;
    fwprintf(stderr, L"usage: registry_keys sddl <key> <SDDL> | dump <key> | delete <key>\n");
    return 2;
}
