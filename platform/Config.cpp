#include "platform/Config.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace px {

namespace {

std::string Trim(const std::string& s)
{
    size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos)
        return {};
    size_t e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

bool ReadConfigFile(std::string* text)
{
    std::ifstream in(ConfigPath(), std::ios::binary);
    if (!in)
        return false;
    std::ostringstream all;
    all << in.rdbuf();
    *text = all.str();
    return true;
}

} // namespace

std::string ConfigPath()
{
    const char* env = std::getenv("VISTEL_CONFIG");
    if (env != nullptr && *env != '\0')
        return env;
    return "/etc/dravik/vistel.conf";
}

bool ConfigLookup(const std::string& text, const char* name, std::string* value)
{
    if (name == nullptr)
        return false;
    std::istringstream lines(text);
    std::string line;
    bool found = false;
    while (std::getline(lines, line)) {
        size_t hash = line.find('#');
        if (hash != std::string::npos)
            line.resize(hash);
        size_t eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        if (Trim(line.substr(0, eq)) != name)
            continue;
        // The last assignment wins, as when a value is written twice.
        *value = Trim(line.substr(eq + 1));
        found = true;
    }
    return found;
}

bool ConfigParseNumber(const std::string& text, uint32_t* value)
{
    if (text.empty())
        return false;
    const char* s = text.c_str();
    int base = 10;
    if (text.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        base = 16;
        s += 2;
    }
    if (*s == '-' || *s == '+')
        return false;
    char* end = nullptr;
    errno = 0;
    unsigned long long v = std::strtoull(s, &end, base);
    if (end == s || *end != '\0' || errno != 0 || v > 0xFFFFFFFFull)
        return false;
    *value = static_cast<uint32_t>(v);
    return true;
}

uint32_t ConfigGetNumber(const char* name, uint32_t defaultValue)
{
    std::string text, raw;
    uint32_t v = 0;
    if (ReadConfigFile(&text) && ConfigLookup(text, name, &raw) && ConfigParseNumber(raw, &v))
        return v;
    return defaultValue;
}

std::string ConfigGetString(const char* name, const std::string& defaultValue)
{
    std::string text, raw;
    if (ReadConfigFile(&text) && ConfigLookup(text, name, &raw))
        return raw;
    return defaultValue;
}

} // namespace px
