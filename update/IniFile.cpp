#include "update/IniFile.h"

#include <cctype>

namespace {

std::string Trim(const std::string& s, size_t begin, size_t end)
{
    while (begin < end && std::isspace(static_cast<unsigned char>(s[begin])))
        ++begin;
    while (end > begin && std::isspace(static_cast<unsigned char>(s[end - 1])))
        --end;
    return s.substr(begin, end - begin);
}

std::string Lower(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

} // namespace

void CIniFile::Parse(const std::string& text)
{
    m_entries.clear();
    std::string section;
    bool inSection = false;
    size_t at = 0;
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0)
        at = 3;
    while (at < text.size()) {
        size_t end = text.find_first_of("\r\n", at);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = Trim(text, at, end);
        at = end + 1;
        if (line.empty() || line[0] == ';')
            continue;
        if (line[0] == '[') {
            const size_t close = line.rfind(']');
            section = Lower(Trim(line, 1, close == std::string::npos || close == 0 ? line.size() : close));
            inSection = true;
            continue;
        }
        const size_t eq = line.find('=');
        if (!inSection || eq == std::string::npos)
            continue;
        std::string value = Trim(line, eq + 1, line.size());
        if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0])
            value = value.substr(1, value.size() - 2);
        if (value.size() > kMaxValue)
            value.resize(kMaxValue);
        m_entries.push_back({section, Lower(Trim(line, 0, eq)), value});
    }
}

std::string CIniFile::Get(const std::string& section, const std::string& key) const
{
    const std::string s = Lower(section), k = Lower(key);
    for (const Entry& e : m_entries)
        if (e.strSection == s && e.strKey == k)
            return e.strValue;
    return {};
}
