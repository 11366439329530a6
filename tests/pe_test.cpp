// The built image, read from the file: what every 32-bit Windows from 95 on
// needs before it will load the DLL, and the face it shows an installer.
#include "harness/harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

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
    template <class T> const T *at(size_t offset) const { return reinterpret_cast<const T *>(bytes_.data() + offset); }
    std::string bytes_;
};

} // namespace

static const std::string kDll = kx::bin_dir() + "KXVozaDa.dll";

static std::map<std::string, std::set<std::string>> imports_of(const Image &image)
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

// Every image that the kit installs into bin/, with the most it may weigh.
// kxprobe also captures a machine with its answers and sets a replay beside
// them.
static const std::map<std::string, DWORD> kMaxSize = {
    {"KXVozaDa.dll", 12288}, {"kxprobe.exe", 81920}, {"kxcapture.exe", 32768}};

static std::vector<std::string> kit_images()
{
    std::vector<std::string> names;
    std::istringstream list(KX_KIT_IMAGES);
    for (std::string name; std::getline(list, name, ',');)
        names.push_back(name);
    return names;
}

// Module names are matched in any letter case, as the loader does.
static std::string upper(std::string text)
{
    for (char &c : text)
        c = (char)toupper((unsigned char)c);
    return text;
}

// What Windows 95 needs before it starts a program or loads a library.
TEST(Image, EveryKitImageStartsOnWindows95)
{
    for (const std::string &name : kit_images()) {
        SCOPED_TRACE(name);
        Image image(kx::bin_dir() + name);
        ASSERT_GT(image.size(), 0u);
        const IMAGE_OPTIONAL_HEADER32 &opt = image.nt().OptionalHeader;
        EXPECT_EQ(IMAGE_FILE_MACHINE_I386, image.nt().FileHeader.Machine);
        EXPECT_EQ(4, opt.MajorOperatingSystemVersion);
        EXPECT_EQ(0, opt.MinorOperatingSystemVersion);
        EXPECT_EQ(4, opt.MajorSubsystemVersion);
        EXPECT_EQ(0, opt.MinorSubsystemVersion);
        const bool dll = upper(name).rfind(".DLL") == name.size() - 4;
        EXPECT_EQ(dll, !!(image.nt().FileHeader.Characteristics & IMAGE_FILE_DLL));
        if (dll) {
            EXPECT_EQ(0u, image.dir(IMAGE_DIRECTORY_ENTRY_TLS).VirtualAddress) << "static TLS fails LoadLibrary on 95";
            EXPECT_GT(image.dir(IMAGE_DIRECTORY_ENTRY_BASERELOC).Size, 8u) << "no base relocations";
        }
        EXPECT_EQ(0u, image.nt().FileHeader.PointerToSymbolTable) << "not stripped";
        const IMAGE_SECTION_HEADER *s = image.sections();
        for (int i = 0; i < image.nt().FileHeader.NumberOfSections; ++i, ++s)
            EXPECT_NE(0, strncmp((const char *)s->Name, ".debug", 6)) << "debug section " << (const char *)s->Name;
        auto most = kMaxSize.find(name);
        ASSERT_NE(kMaxSize.end(), most) << "no size limit for this image";
        EXPECT_LE(image.size(), most->second);
        // Double-clicked, a console program opens a console window that
        // closes as it ends.
        if (name == "kxcapture.exe")
            EXPECT_EQ(IMAGE_SUBSYSTEM_WINDOWS_GUI, opt.Subsystem);
    }
}

// The words of a list file, past its comment lines; where lines begin with
// "DLL:", only those of `dll`.
static std::set<std::string> listed(const std::string &path, const std::string &dll = "")
{
    std::ifstream in(path);
    EXPECT_TRUE(in.good()) << path;
    std::set<std::string> words;
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream fields(line);
        std::string word;
        if (!dll.empty() && (!(fields >> word) || word != dll + ":"))
            continue;
        while (fields >> word)
            words.insert(word);
    }
    return words;
}

TEST(Image, EveryKitImageImportsOnlyWhatWindows95Has)
{
    const std::string lists = kx::source_path("tests/win95/");
    const std::map<std::string, std::set<std::string>> allowed = {
        {"KERNEL32.DLL", listed(lists + "kernel32.txt")},
        {"USER32.DLL", listed(lists + "user32-advapi32.txt", "USER32")},
        {"ADVAPI32.DLL", listed(lists + "user32-advapi32.txt", "ADVAPI32")},
        {"CRTDLL.DLL", listed(KX_CRTDLL_EXPORTS)},
    };
    for (const auto &dll : allowed)
        ASSERT_GT(dll.second.size(), 4u) << dll.first << ": list not read";
    for (const std::string &name : kit_images()) {
        auto imports = imports_of(Image(kx::bin_dir() + name));
        EXPECT_FALSE(imports.empty()) << name;
        for (const auto &dll : imports) {
            auto functions = allowed.find(upper(dll.first));
            if (functions == allowed.end()) {
                ADD_FAILURE() << name << " imports from " << dll.first;
                continue;
            }
            for (const auto &function : dll.second)
                EXPECT_TRUE(functions->second.count(function)) << name << ": " << dll.first << "!" << function;
        }
    }
}

// The DLL traces to no window, so its exports cannot touch one: it needs
// nothing of USER32, which a host without it then does not load for it.
TEST(Image, DllImportsNothingOfUser32)
{
    for (const auto &dll : imports_of(Image(kDll)))
        EXPECT_NE("USER32.DLL", upper(dll.first));
}

// Each export of exports/KXVozaDa.def with its ordinal.
static std::map<std::string, WORD> def_ordinals()
{
    std::map<std::string, WORD> ordinals;
    for (const kx::DefExport &listed : kx::def_exports())
        ordinals[listed.name] = (WORD)listed.ordinal;
    return ordinals;
}

// exports/ordinals.txt, the record of the ordinals: line N of its
// exports names the export of ordinal N, so a line moved or taken out
// breaks the count.
static std::map<std::string, WORD> recorded_ordinals()
{
    std::ifstream in(kx::source_path("exports/ordinals.txt"));
    EXPECT_TRUE(in.good()) << "exports/ordinals.txt";
    std::map<std::string, WORD> ordinals;
    WORD number = 0;
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        std::string name, ordinal;
        if (line.empty() || line[0] == '#')
            continue;
        ++number;
        EXPECT_TRUE(fields >> name >> ordinal && ordinal == "@" + std::to_string(number))
            << "exports/ordinals.txt: export " << number << " is not recorded as ordinal " << number << ": " << line;
        ordinals[name] = number;
    }
    return ordinals;
}

// The DLL exports what the .def lists, and the .def may only add to the
// record: renumbering an export fails here.
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
    const struct {
        const char *file;
        std::map<std::string, WORD> ordinals;
    } rows[] = {{"exports/KXVozaDa.def", def_ordinals()}, {"exports/ordinals.txt", recorded_ordinals()}};
    for (const auto &row : rows) {
        SCOPED_TRACE(row.file);
        ASSERT_FALSE(row.ordinals.empty()) << "no exports read";
        std::set<std::string> seen;
        for (DWORD i = 0; i < exports->NumberOfNames; ++i) {
            std::string name = image.text(names[i]);
            seen.insert(name);
            auto expected = row.ordinals.find(name);
            ASSERT_NE(row.ordinals.end(), expected) << "unexpected export " << name;
            EXPECT_EQ(expected->second, exports->Base + ordinals[i]) << name;
        }
        EXPECT_EQ(row.ordinals.size(), seen.size()) << "not every export listed is there";
    }
}

// The functions that include/KXVozaDa.h declares: its lines of code, not
// of a comment, such as "int WINAPI IsWin95(void);", the pointer types
// aside.
static std::set<std::string> header_functions()
{
    std::ifstream in(kx::source_path("include/KXVozaDa.h"));
    std::set<std::string> names;
    for (std::string line; std::getline(in, line);) {
        const size_t at = line.find(" WINAPI "), name = at + 8;
        if (at != std::string::npos && isalpha((unsigned char)line[0]) && line.compare(0, 7, "typedef"))
            names.insert(line.substr(name, line.find('(', name) - name));
    }
    return names;
}

// A function that the header declares and the DLL does not export links
// in no installer; one that the DLL exports and the header does not
// declare already fails to compile (exports/exports.cpp).
TEST(Image, ExportsWhatTheHeaderDeclares)
{
    const std::set<std::string> declared = header_functions();
    ASSERT_GT(declared.size(), 1u) << "no prototypes read from include/KXVozaDa.h";
    kx::Dll dll;
    EXPECT_EQ(declared, dll.exports());
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
    EXPECT_STREQ(KX_VERSION, text);
}
