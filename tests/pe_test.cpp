// The built image, read from the file: what every 32-bit Windows from 95 on
// needs before it will load the DLL, and the face it shows an installer.
#include "harness/harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>

namespace {

class Image {
public:
    explicit Image(const std::string &path)
    {
        std::ifstream in(path, std::ios::binary);
        bytes_.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    size_t size() const { return bytes_.size(); }
    const IMAGE_NT_HEADERS32 &nt() const
    {
        return *at<IMAGE_NT_HEADERS32>(reinterpret_cast<const IMAGE_DOS_HEADER *>(bytes_.data())->e_lfanew);
    }
    const IMAGE_DATA_DIRECTORY &dir(int index) const { return nt().OptionalHeader.DataDirectory[index]; }
    const IMAGE_SECTION_HEADER *sections() const { return IMAGE_FIRST_SECTION(&nt()); }

    // File contents at a relative virtual address.
    template <class T> const T *rva(DWORD address) const
    {
        const IMAGE_SECTION_HEADER *s = sections();
        for (int i = 0; i < nt().FileHeader.NumberOfSections; ++i, ++s)
            if (address >= s->VirtualAddress && address < s->VirtualAddress + s->SizeOfRawData)
                return at<T>(address - s->VirtualAddress + s->PointerToRawData);
        return nullptr;
    }
    const char *text(DWORD address) const { return rva<char>(address); }

private:
    template <class T> const T *at(size_t offset) const
    {
        return reinterpret_cast<const T *>(bytes_.data() + offset);
    }
    std::string bytes_;
};

const std::string kDll = kx::bin_dir() + "KXVozaDa.dll";

std::map<std::string, std::set<std::string>> imports_of(const Image &image)
{
    std::map<std::string, std::set<std::string>> imports;
    auto *desc = image.rva<IMAGE_IMPORT_DESCRIPTOR>(image.dir(IMAGE_DIRECTORY_ENTRY_IMPORT).VirtualAddress);
    for (; desc && desc->Name; ++desc) {
        auto &functions = imports[image.text(desc->Name)];
        auto *thunk = image.rva<IMAGE_THUNK_DATA32>(desc->OriginalFirstThunk);
        for (; thunk && thunk->u1.AddressOfData; ++thunk) {
            if (IMAGE_SNAP_BY_ORDINAL32(thunk->u1.Ordinal))
                functions.insert("#ordinal");
            else
                functions.insert(image.rva<IMAGE_IMPORT_BY_NAME>(thunk->u1.AddressOfData)->Name);
        }
    }
    return imports;
}

TEST(Image, LoadsOnWindows95)
{
    Image image(kDll);
    ASSERT_GT(image.size(), 0u);
    const IMAGE_OPTIONAL_HEADER32 &opt = image.nt().OptionalHeader;
    EXPECT_EQ(IMAGE_FILE_MACHINE_I386, image.nt().FileHeader.Machine);
    EXPECT_TRUE(image.nt().FileHeader.Characteristics & IMAGE_FILE_DLL);
    EXPECT_EQ(4, opt.MajorOperatingSystemVersion);
    EXPECT_EQ(0, opt.MinorOperatingSystemVersion);
    EXPECT_EQ(4, opt.MajorSubsystemVersion);
    EXPECT_EQ(0, opt.MinorSubsystemVersion);
    EXPECT_EQ(0u, image.dir(IMAGE_DIRECTORY_ENTRY_TLS).VirtualAddress) << "static TLS fails LoadLibrary on 95";
    EXPECT_GT(image.dir(IMAGE_DIRECTORY_ENTRY_BASERELOC).Size, 8u) << "no base relocations";
    EXPECT_EQ(0u, image.nt().FileHeader.PointerToSymbolTable) << "not stripped";
    const IMAGE_SECTION_HEADER *s = image.sections();
    for (int i = 0; i < image.nt().FileHeader.NumberOfSections; ++i, ++s)
        EXPECT_NE(0, strncmp((const char *)s->Name, ".debug", 6)) << "debug section " << (const char *)s->Name;
    EXPECT_LE(image.size(), 16384u);
}

// The loader matches module names in any letter case.
struct IgnoreCase {
    bool operator()(const std::string &a, const std::string &b) const { return lstrcmpiA(a.c_str(), b.c_str()) < 0; }
};

// Functions that every 32-bit Windows from 95 on exports by these names.
const std::map<std::string, std::set<std::string>, IgnoreCase> kAllowedImports = {
    {"KERNEL32.dll",
     {"GetVersionExA", "GetProcessHeap", "HeapAlloc", "HeapFree", "CreateFileA", "ReadFile", "CloseHandle",
      "DeleteFileA", "CreateProcessA", "WaitForSingleObject", "GetExitCodeProcess", "Sleep",
      "GetSystemDirectoryA", "LoadLibraryA", "GetProcAddress", "FreeLibrary"}},
    {"USER32.dll", {"GetWindowTextA", "SetWindowTextA"}},
    {"ADVAPI32.dll", {"RegOpenKeyExA", "RegEnumKeyExA", "RegQueryValueExA", "RegCloseKey"}},
    {"CRTDLL.dll",
     {"fopen", "fgets", "fclose", "toupper", "strncmp", "strncpy", "strstr", "_strupr", "strlen", "strcmp",
      "strcpy", "strcat", "strchr", "memset", "memcpy", "memmove", "memcmp", "malloc", "free"}},
};

TEST(Image, ImportsOnlyWhatWindows95Has)
{
    Image image(kDll);
    auto imports = imports_of(image);
    EXPECT_FALSE(imports.empty());
    for (const auto &dll : imports) {
        // Windows matches module names without regard to case; MinGW's
        // import library names the runtime "crtdll.dll".
        auto allowed = std::find_if(kAllowedImports.begin(), kAllowedImports.end(),
                                    [&](const auto &entry) { return !_stricmp(entry.first.c_str(), dll.first.c_str()); });
        if (allowed == kAllowedImports.end()) {
            ADD_FAILURE() << "imports from " << dll.first;
            continue;
        }
        for (const auto &function : dll.second)
            EXPECT_TRUE(allowed->second.count(function)) << dll.first << "!" << function;
    }
}

const std::map<std::string, WORD> kOrdinals = {
    {"GetAudioCardID", 1},      {"GetGraphicsCardID", 2}, {"GetPCIInfo", 3},     {"GetSystemID", 4},
    {"IsATIMotionComp", 5},     {"IsBroadLogicPresent", 6}, {"IsDVDDrivePresent", 7}, {"IsFileAvailable", 8},
    {"IsInterleavedBob", 9},    {"IsWin95", 10},
};

TEST(Image, ExportsByPlainNamesWithTheirOrdinals)
{
    Image image(kDll);
    auto *exports = image.rva<IMAGE_EXPORT_DIRECTORY>(image.dir(IMAGE_DIRECTORY_ENTRY_EXPORT).VirtualAddress);
    ASSERT_NE(nullptr, exports);
    EXPECT_STREQ("KXVozaDa.dll", image.text(exports->Name));
    // Unused ordinals below the highest leave empty slots in the address table.
    auto *functions = image.rva<DWORD>(exports->AddressOfFunctions);
    DWORD used = 0;
    for (DWORD i = 0; i < exports->NumberOfFunctions; ++i)
        used += functions[i] != 0;
    EXPECT_EQ(exports->NumberOfNames, used) << "an export without a name";
    auto *names = image.rva<DWORD>(exports->AddressOfNames);
    auto *ordinals = image.rva<WORD>(exports->AddressOfNameOrdinals);
    std::set<std::string> seen;
    for (DWORD i = 0; i < exports->NumberOfNames; ++i) {
        std::string name = image.text(names[i]);
        seen.insert(name);
        auto expected = kOrdinals.find(name);
        ASSERT_NE(kOrdinals.end(), expected) << "unexpected export " << name;
        EXPECT_EQ(expected->second, exports->Base + ordinals[i]) << name;
    }
    EXPECT_EQ(kOrdinals.size(), seen.size()) << "not all ten exports are there";
}

TEST(Image, VersionResource)
{
    DWORD ignored;
    DWORD size = GetFileVersionInfoSizeA(kDll.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::string block(size, '\0');
    ASSERT_TRUE(GetFileVersionInfoA(kDll.c_str(), 0, size, &block[0]));

    VS_FIXEDFILEINFO *fixed;
    UINT length;
    ASSERT_TRUE(VerQueryValueA(&block[0], "\\", (void **)&fixed, &length));
    EXPECT_EQ(0x00010000u, fixed->dwFileVersionMS);
    EXPECT_EQ(0x0000000du, fixed->dwFileVersionLS);
    EXPECT_EQ(0x00010000u, fixed->dwProductVersionMS);
    EXPECT_EQ(0x0000000du, fixed->dwProductVersionLS);
    EXPECT_EQ((DWORD)VFT_DLL, fixed->dwFileType);

    WORD *translation;
    ASSERT_TRUE(VerQueryValueA(&block[0], "\\VarFileInfo\\Translation", (void **)&translation, &length));
    ASSERT_EQ(4u, length);
    EXPECT_EQ(0x0409, translation[0]);
    EXPECT_EQ(1200, translation[1]);

    char *text;
    ASSERT_TRUE(VerQueryValueA(&block[0], "\\StringFileInfo\\040904B0\\FileVersion", (void **)&text, &length));
    EXPECT_STREQ("1.0.0.13", text);
}

} // namespace
