// kxprobe's answers, as lines or as one JSON object.
#include "answers.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace answers {

namespace {

bool g_json;
int g_records;
// JSON: the details of the last record, which stays open until the next
// answer or the end.
std::vector<std::string> g_details;

void close_record()
{
    if (!g_records)
        return;
    printf(", \"details\": [");
    for (size_t i = 0; i < g_details.size(); ++i)
        printf("%s%s", i ? ", " : "", json_text(g_details[i]).c_str());
    printf("]}");
    g_details.clear();
}

} // namespace

void use_json()
{
    g_json = true;
}

std::string format(const char *pattern, ...)
{
    va_list args;
    va_start(args, pattern);
    int length = vsnprintf(nullptr, 0, pattern, args);
    va_end(args);
    std::string text(length > 0 ? length : 0, '\0');
    va_start(args, pattern);
    vsnprintf(&text[0], text.size() + 1, pattern, args);
    va_end(args);
    return text;
}

std::string json_text(const std::string &ansi)
{
    std::wstring wide(ansi.size(), L'\0');
    wide.resize(MultiByteToWideChar(CP_ACP, 0, ansi.data(), (int)ansi.size(), &wide[0], (int)wide.size()));
    std::string json = "\"";
    for (wchar_t c : wide) {
        if (c == L'"' || c == L'\\')
            json += '\\', json += (char)c;
        else if (c < 0x20)
            json += format("\\u%04x", (unsigned)c);
        else {
            char utf8[4];
            json.append(utf8, WideCharToMultiByte(CP_UTF8, 0, &c, 1, utf8, sizeof(utf8), nullptr, nullptr));
        }
    }
    return json + "\"";
}

void answer(const std::string &line, const char *name, const std::string &arguments, int value,
            const char *meaning)
{
    if (!g_json) {
        printf("%s\n", line.c_str());
        return;
    }
    close_record();
    printf("%s\n  {\"export\": \"%s\", \"arguments\": %s, \"answer\": %d, \"meaning\": %s, \"text\": %s",
           g_records++ ? "," : "{\"answers\": [", name, arguments.c_str(), value, json_text(meaning).c_str(),
           json_text(line).c_str());
}

void detail(const std::string &text)
{
    if (g_json)
        g_details.push_back(text);
    else
        printf("    %s\n", text.c_str());
}

void finish()
{
    if (!g_json)
        return;
    close_record();
    printf("%s]}\n", g_records ? "\n" : "{\"answers\": [");
}

} // namespace answers
