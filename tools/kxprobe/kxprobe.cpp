// kxprobe: asks KXVozaDa.dll every question it can answer on this machine,
// the way an installer does, and prints each answer with its meaning.
//
// With --profile it first replays a machine profile into the registry, so
// that a customer's machine can be asked again under Wine.
#include "profile.h"

#include <windows.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

const char kUsage[] =
    "usage: kxprobe [--profile FILE] [--file PATH [--signature HEX]] [--help]\n"
    "\n"
    "Loads KXVozaDa.dll from the program's folder or the current folder and\n"
    "prints one line per question: the export, its argument if any, the answer\n"
    "and what it means.\n"
    "\n"
    "  --profile FILE  first load a REGEDIT4 machine profile into the registry:\n"
    "                  HKLM\\Enum\\PCI, HKLM\\Enum\\SCSI and HKEY_DYN_DATA\\Config\n"
    "                  Manager\\Enum are cleared and the profile's keys written.\n"
    "                  Only under Wine; refused on a real Windows machine.\n"
    "  --file PATH     also ask IsFileAvailable whether PATH can be read\n"
    "  --signature HEX ... and whether it begins with these bytes (4D5A = \"MZ\")\n"
    "  --help          this text\n";

struct Options {
    const char *profile = nullptr;
    const char *file = nullptr;
    std::string signature;
    bool has_signature = false;
};

enum { kOk = 0, kNoDll = 1, kUsageError = 2 };

using Ask0 = int(WINAPI *)(void);
using AskFile = int(WINAPI *)(const char *path, const void *signature, int length);

struct Question {
    const char *name;
    const char *(*meaning)(int answer);
    bool timed; // the answer may take seconds: print how long it took
};

const char *win95_meaning(int answer)
{
    return answer ? "Windows 95" : "not Windows 95";
}

const char *system_id_meaning(int answer)
{
    return answer == 70 ? "Gateway" : answer ? "system identifier" : "system not recognised";
}

const Question kQuestions[] = {
    {"GetSystemID", system_id_meaning, true},
    {"IsWin95", win95_meaning},
};

// Wine's ntdll exports wine_get_version; no Windows release does.
bool running_under_wine()
{
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

bool parse_hex(const char *hex, std::string &bytes)
{
    for (; *hex; hex += 2) {
        unsigned byte;
        if (!isxdigit((unsigned char)hex[0]) || !isxdigit((unsigned char)hex[1]) ||
            sscanf(hex, "%2x", &byte) != 1)
            return false;
        bytes += (char)byte;
    }
    return true;
}

bool parse(int argc, char **argv, Options &options)
{
    for (int i = 1; i < argc; ++i) {
        if (!strcmp(argv[i], "--profile") && i + 1 < argc)
            options.profile = argv[++i];
        else if (!strcmp(argv[i], "--file") && i + 1 < argc)
            options.file = argv[++i];
        else if (!strcmp(argv[i], "--signature") && i + 1 < argc && parse_hex(argv[i + 1], options.signature))
            options.has_signature = ++i;
        else
            return false;
    }
    return options.file || !options.has_signature;
}

int load_profile(const char *path)
{
    if (!running_under_wine()) {
        fprintf(stderr, "kxprobe: --profile rewrites the hardware tree; refused outside Wine\n");
        return kUsageError;
    }
    std::string error;
    if (!kxprofile::load_file(path, error)) {
        fprintf(stderr, "kxprobe: %s: %s\n", path, error.c_str());
        return kUsageError;
    }
    return kOk;
}

void ask_all(HMODULE dll)
{
    for (const Question &q : kQuestions) {
        auto ask = reinterpret_cast<Ask0>(GetProcAddress(dll, q.name));
        if (!ask)
            continue;
        DWORD start = GetTickCount();
        int answer = ask();
        DWORD took = GetTickCount() - start;
        printf("%s = %d: %s", q.name, answer, q.meaning(answer));
        if (q.timed)
            printf(" (took %lu ms)", took);
        printf("\n");
    }
}

void ask_file(HMODULE dll, const Options &options)
{
    auto ask = reinterpret_cast<AskFile>(GetProcAddress(dll, "IsFileAvailable"));
    if (!ask)
        return;
    const std::string &signature = options.signature;
    int answer = ask(options.file, options.has_signature ? signature.data() : nullptr, (int)signature.size());
    printf("IsFileAvailable(%s", options.file);
    if (options.has_signature) {
        printf(", ");
        for (unsigned char byte : signature)
            printf("%02X", byte);
    }
    printf(") = %d: %s\n", answer,
           answer ? (options.has_signature ? "readable and begins with the signature" : "readable")
                  : (options.has_signature ? "unreadable, or does not begin with the signature" : "unreadable"));
}

} // namespace

int main(int argc, char **argv)
{
    Options options;
    if (argc == 2 && !strcmp(argv[1], "--help")) {
        fputs(kUsage, stdout);
        return kOk;
    }
    if (!parse(argc, argv, options)) {
        fputs(kUsage, stderr);
        return kUsageError;
    }
    if (options.profile) {
        int status = load_profile(options.profile);
        if (status != kOk)
            return status;
    }
    HMODULE dll = LoadLibraryA("KXVozaDa.dll");
    if (!dll) {
        fprintf(stderr, "kxprobe: cannot load KXVozaDa.dll (error %lu)\n", GetLastError());
        return kNoDll;
    }
    ask_all(dll);
    if (options.file)
        ask_file(dll, options);
    FreeLibrary(dll);
    return kOk;
}
