// The package's INI files ("version.ini", "FpgaRomInfo.txt"), read by the conventions of the
// platform the packages were made on: "[section]" lines, "key=value" lines, ';' starts a comment
// line, section and key names without regard to case, blanks around names and values dropped, one
// pair of matching quotes around a value dropped, the first of several equal keys winning. Keys
// are taken as written, quotes included: "CCDList" keys are "\"01000001\"".
//
// Debian's inih was weighed and left: its line limit (200 characters) is fixed when the library
// is built, and it joins indented lines to the key above and cuts values at " ;", none of which
// the packages' own platform does.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

class CIniFile {
public:
    // Values longer than this are cut, as the package readers ask for at most 255 characters.
    static constexpr size_t kMaxValue = 255;

    void Parse(const std::string& text);
    // The value, or empty when the section or the key is missing.
    std::string Get(const std::string& section, const std::string& key) const;

private:
    struct Entry {
        std::string strSection, strKey, strValue;   // names folded to lower case
    };
    std::vector<Entry> m_entries;
};
