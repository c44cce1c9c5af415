// What the kill campaign under Wine needs of the registry beyond `reg`, on keys below
// HKEY_LOCAL_MACHINE:
//
//   registry_keys dump <key>     every key below it, itself included, sorted: its path, its owner
//                                and DACL as SDDL, then each value: name, type, bytes
//   registry_keys <command>      any command of the test cases' (tests/registry_commands_win.cpp):
//                                sddl <key> <SDDL>, delete <key>, ...
//
// Exit status 0 where it succeeded.

#include <QStringList>

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

long registryCommand(const QStringList &words);
std::wstring sddlOf(const std::wstring &key);

namespace {

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
    const std::wstring sddl = sddlOf(key);
    wprintf(L"[%ls] %ls\n", path.c_str(), sddl.empty() ? L"(no rights)" : sddl.c_str());
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

}  // namespace

int wmain(int argc, wchar_t *argv[])
{
    if (argc == 3 && std::wstring(argv[1]) == L"dump")
        return dump(argv[2], L"") ? 0 : 1;
    QStringList words;
    for (int i = 1; i < argc; ++i)
        words.append(QString::fromWCharArray(argv[i]));
    const long result = registryCommand(words);
    if (result == -1)
        fwprintf(stderr, L"usage: registry_keys dump <key> | sddl <key> <SDDL> | delete <key> | ...\n");
    return result == 0 ? 0 : result == -1 ? 2 : 1;
}
