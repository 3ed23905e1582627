// Loads the built module as the host does and talks to it only through its
// export. PLUMETA_MODULE names the module to load (by default the one built
// beside the tests); PLUMETA_ALLOWED_IMPORTS, the list of functions a release
// module may import.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "host/host_link.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace plumeta {
namespace {

const char* ModulePath(const char* built) {
    const char* chosen = std::getenv("PLUMETA_MODULE");
    return chosen && *chosen ? chosen : built;
}

#if defined(_WIN32)
HMODULE Module() {
    static HMODULE module = LoadLibraryA(ModulePath("plumeta.dll"));
    return module;
}
MessageProc Entry() {
    return reinterpret_cast<MessageProc>(
        reinterpret_cast<void*>(GetProcAddress(Module(), "_IMessageProc@4")));
}
#else
void* Module() {
    static void* module = dlopen(ModulePath(PLUMETA_MODULE_PATH), RTLD_NOW | RTLD_LOCAL);
    return module;
}
MessageProc Entry() { return reinterpret_cast<MessageProc>(dlsym(Module(), "IMessageProc")); }
#endif

// A host that only counts what reaches it.
struct CountingHost {
    HostInterface iface;
    int unhandled = 0;
    int other = 0;
};
CountingHost* Counting(HostInterface* self) { return reinterpret_cast<CountingHost*>(self); }
uint32_t PLUMETA_HOSTCALL Target(HostInterface* self) { return ++Counting(self)->other, 0; }
int32_t PLUMETA_HOSTCALL Unhandled(HostInterface* self, int32_t code) {
    Counting(self)->unhandled += code;
    return 0;
}
int32_t PLUMETA_HOSTCALL Send(HostInterface* self, MessageRecord*) { return ++Counting(self)->other, 0; }
int32_t PLUMETA_HOSTCALL SendTo(HostInterface* self, uint32_t, MessageRecord*) {
    return ++Counting(self)->other, 0;
}
int32_t PLUMETA_HOSTCALL Cell(HostInterface* self, uint32_t, uint32_t, uint32_t, CellValue*) {
    return ++Counting(self)->other, 0;
}
const HostOperations kCountingOperations = {&Target, &Unhandled, &Send, &SendTo, &Cell};

int32_t Call(uint16_t size, uint32_t id, HostWord p1 = 0) {
    MessageRecord full{};
    full.header.size = size;
    full.header.id = id;
    full.p1 = p1;
    auto bytes = std::make_unique<uint8_t[]>(size);
    std::memcpy(bytes.get(), &full, std::min<std::size_t>(size, sizeof full));
    return Entry()(reinterpret_cast<MessageRecord*>(bytes.get()));
}

TEST(Module, LoadsAndExportsTheEntry) {
    ASSERT_NE(Module(), nullptr);
    ASSERT_NE(Entry(), nullptr);
}

TEST(Module, AnswersThroughTheRealEntry) {
    ASSERT_NE(Entry(), nullptr);
    EXPECT_EQ(Call(30, 30010), 267);
    EXPECT_STREQ(FromWord<const char>(static_cast<HostWord>(Call(22, 30016))), "Plumeta");
    EXPECT_EQ(Call(30, 4242), 0);
    EXPECT_EQ(Entry()(nullptr), 0);

    CountingHost host{{&kCountingOperations}};
    EXPECT_EQ(Call(30, 20001, ToWord(&host.iface)), 1);
    EXPECT_EQ(Call(30, 4242), 0);
    EXPECT_EQ(host.unhandled, 1);
    // A short status change must not escape as an exception into the host.
    EXPECT_EQ(Call(33, 24011), 0);
    EXPECT_EQ(Call(33, 24012), 0);
    EXPECT_EQ(host.other, 0) << "nothing read for a short status change";
}

#if defined(_WIN32)

const IMAGE_NT_HEADERS32* Headers(HMODULE module) {
    const auto* base = reinterpret_cast<const uint8_t*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    return reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + dos->e_lfanew);
}

template <typename T>
const T* Directory(HMODULE module, int entry) {
    const IMAGE_DATA_DIRECTORY& dir = Headers(module)->OptionalHeader.DataDirectory[entry];
    return reinterpret_cast<const T*>(reinterpret_cast<const uint8_t*>(module) + dir.VirtualAddress);
}

const IMAGE_EXPORT_DIRECTORY* Exports(HMODULE module) {
    return Directory<IMAGE_EXPORT_DIRECTORY>(module, IMAGE_DIRECTORY_ENTRY_EXPORT);
}

// "DLL!function" for every function the module imports by name.
std::vector<std::string> Imports(HMODULE module) {
    const auto* base = reinterpret_cast<const uint8_t*>(module);
    std::vector<std::string> imports;
    for (const auto* dll = Directory<IMAGE_IMPORT_DESCRIPTOR>(module, IMAGE_DIRECTORY_ENTRY_IMPORT);
         dll->Name; ++dll) {
        const std::string name = reinterpret_cast<const char*>(base + dll->Name);
        const auto* thunk = reinterpret_cast<const IMAGE_THUNK_DATA32*>(
            base + (dll->OriginalFirstThunk ? dll->OriginalFirstThunk : dll->FirstThunk));
        for (; thunk->u1.AddressOfData; ++thunk) {
            if (IMAGE_SNAP_BY_ORDINAL32(thunk->u1.Ordinal)) {
                imports.push_back(name + "!#" + std::to_string(IMAGE_ORDINAL32(thunk->u1.Ordinal)));
            } else {
                const auto* byName =
                    reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + thunk->u1.AddressOfData);
                imports.push_back(name + "!" + reinterpret_cast<const char*>(byName->Name));
            }
        }
    }
    return imports;
}

// The functions a release binary may import: "DLL!function" of every line
// of the allow-list.
std::set<std::string> AllowedImports(const char* list) {
    std::set<std::string> allowed;
    std::ifstream in(list);
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        std::string dll, function;
        if (line.empty() || line[0] == '#' || !(words >> dll >> function)) continue;
        allowed.insert(dll + "!" + function);
    }
    return allowed;
}

void ExpectOnlyAllowedImports(HMODULE module, const char* list) {
    ASSERT_NE(module, nullptr);
    const std::set<std::string> allowed = AllowedImports(list);
    ASSERT_FALSE(allowed.empty()) << list;
    const std::vector<std::string> imports = Imports(module);
    EXPECT_FALSE(imports.empty());
    for (const std::string& import : imports) {
        EXPECT_TRUE(allowed.count(import)) << import << " is not on " << list;
    }
}

// What the package ships runs on every Windows from XP SP3 on: each binary
// imports only what its allow-list holds, each function checked against its
// documented minimum Windows version there.
TEST(ReleaseModule, ImportsOnlyWhatWindowsXPHas) {
    const char* list = std::getenv("PLUMETA_ALLOWED_IMPORTS");
    if (!list || !*list) GTEST_SKIP() << "a development build; the release build is checked";
    ExpectOnlyAllowedImports(Module(), list);
}

TEST(ReleaseTool, ImportsOnlyWhatWindowsXPHas) {
    const char* tool = std::getenv("PLUMETA_TOOL");
    const char* list = std::getenv("PLUMETA_TOOL_ALLOWED_IMPORTS");
    if (!tool || !list) GTEST_SKIP() << "a development build; the release build is checked";
    // Mapped as an image, its imports not resolved and nothing of it run.
    ExpectOnlyAllowedImports(LoadLibraryExA(tool, nullptr, DONT_RESOLVE_DLL_REFERENCES), list);
}

TEST(ReleaseModule, IsAStrippedGuiModuleForWindowsXP) {
    if (!std::getenv("PLUMETA_ALLOWED_IMPORTS")) GTEST_SKIP() << "a development build";
    ASSERT_NE(Module(), nullptr);
    const IMAGE_NT_HEADERS32* nt = Headers(Module());
    const IMAGE_OPTIONAL_HEADER32& optional = nt->OptionalHeader;
    EXPECT_EQ(optional.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);
    EXPECT_EQ(optional.MajorOperatingSystemVersion, 5);
    EXPECT_EQ(optional.MinorOperatingSystemVersion, 1);
    EXPECT_EQ(optional.MajorSubsystemVersion, 5);
    EXPECT_EQ(optional.MinorSubsystemVersion, 1);
    EXPECT_EQ(optional.DataDirectory[IMAGE_DIRECTORY_ENTRY_DEBUG].Size, 0u);
    const auto* section = IMAGE_FIRST_SECTION(nt);
    for (int i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
        const std::string name(reinterpret_cast<const char*>(section->Name), strnlen(
            reinterpret_cast<const char*>(section->Name), IMAGE_SIZEOF_SHORT_NAME));
        EXPECT_NE(name.rfind(".debug", 0), 0u) << "debug information in " << name;
        EXPECT_NE(name.front(), '/') << "a long section name, kept only with debug information";
    }
}

TEST(Module, ExportsOnlyTheEntryAtOrdinalOne) {
    HMODULE module = Module();
    ASSERT_NE(module, nullptr);
    const auto* base = reinterpret_cast<const uint8_t*>(module);
    const IMAGE_EXPORT_DIRECTORY* exports = Exports(module);
    EXPECT_EQ(exports->NumberOfFunctions, 1u);
    ASSERT_EQ(exports->NumberOfNames, 1u);
    EXPECT_EQ(exports->Base, 1u);
    const auto* names = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
    EXPECT_STREQ(reinterpret_cast<const char*>(base + names[0]), "_IMessageProc@4");
    EXPECT_EQ(reinterpret_cast<void*>(GetProcAddress(module, MAKEINTRESOURCEA(1))),
              reinterpret_cast<void*>(Entry()));
}

std::wstring VersionString(const std::vector<uint8_t>& info, const wchar_t* name) {
    std::wstring path = std::wstring(L"\\StringFileInfo\\041504E2\\") + name;
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(info.data(), path.c_str(), &value, &length) || !value) return L"<missing>";
    return static_cast<const wchar_t*>(value);
}

TEST(Module, CarriesItsVersionRecord) {
    wchar_t path[MAX_PATH];
    ASSERT_GT(GetModuleFileNameW(Module(), path, MAX_PATH), 0u);
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path, &ignored);
    ASSERT_GT(size, 0u);
    std::vector<uint8_t> info(size);
    ASSERT_TRUE(GetFileVersionInfoW(path, 0, size, info.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00000000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00030004u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00000000u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0x00030004u);

    struct Translation {
        WORD language;
        WORD codePage;
    }* translation = nullptr;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation",
                               reinterpret_cast<void**>(&translation), &length));
    EXPECT_EQ(translation->language, 0x0415);  // Polish
    EXPECT_EQ(translation->codePage, 1250);

    EXPECT_EQ(VersionString(info, L"ProductName"), L"Plumeta");
    EXPECT_EQ(VersionString(info, L"FileDescription"), L"Plumeta");
    EXPECT_EQ(VersionString(info, L"FileVersion"), L"0.0.3.4");
    EXPECT_EQ(VersionString(info, L"ProductVersion"), L"0.0.3.4");
    EXPECT_EQ(VersionString(info, L"Comments"),
              L"Wtyczka zapisuj\x0105" L"ca zmiany status\x00F3w oraz opis\x00F3w do historii "
              L"i/lub pliku.");
}

#pragma pack(push, 2)
struct IconDirectoryEntry {
    BYTE width, height, colorCount, reserved;
    WORD planes, bitCount;
    DWORD bytesInResource;
    WORD id;
};
struct IconDirectory {
    WORD reserved, type, count;
    IconDirectoryEntry entries[1];
};
#pragma pack(pop)

TEST(Module, CarriesItsIconGroup) {
    HRSRC found = FindResourceW(Module(), MAKEINTRESOURCEW(101), MAKEINTRESOURCEW(14));
    ASSERT_NE(found, nullptr);
    const auto* group = static_cast<const IconDirectory*>(LockResource(LoadResource(Module(), found)));
    ASSERT_NE(group, nullptr);
    ASSERT_EQ(group->count, 4);
    const int sizes[] = {16, 24, 32, 48};
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(sizes[i]);
        const IconDirectoryEntry& entry = group->entries[i];
        EXPECT_EQ(entry.width, sizes[i]);
        EXPECT_EQ(entry.height, sizes[i]);
        EXPECT_EQ(entry.colorCount, 16);
        EXPECT_EQ(entry.bitCount, 4);
        // The image itself loads as an icon of that size.
        HICON icon = static_cast<HICON>(
            LoadImageW(Module(), MAKEINTRESOURCEW(101), IMAGE_ICON, sizes[i], sizes[i], 0));
        EXPECT_NE(icon, nullptr);
        if (icon) DestroyIcon(icon);
    }
}

#endif

}  // namespace
}  // namespace plumeta
