// Loads the built module as the host does and talks to it only through its
// export.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
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

#if defined(_WIN32)
HMODULE Module() {
    static HMODULE module = LoadLibraryA("plumeta.dll");
    return module;
}
MessageProc Entry() {
    return reinterpret_cast<MessageProc>(
        reinterpret_cast<void*>(GetProcAddress(Module(), "_IMessageProc@4")));
}
#else
void* Module() {
    static void* module = dlopen(PLUMETA_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
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

const IMAGE_EXPORT_DIRECTORY* Exports(HMODULE module) {
    const auto* base = reinterpret_cast<const uint8_t*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    return reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + dir.VirtualAddress);
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
