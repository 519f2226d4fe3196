// pellix-view's overlay script; see OverlayScript.h.
#include "tools/OverlayScript.h"

#include <cstring>

#include "platform/File.h"

namespace pxtool {

namespace {

enum class Kind { Number, Colour, Text };

struct Parameter {
    const char* name;
    Kind kind;
};

struct Member {
    const char* name;
    std::vector<Parameter> parameters;
};

// The control's overlay members and their parameters in its order.
const std::vector<Member>& Members()
{
    constexpr Kind N = Kind::Number, C = Kind::Colour, T = Kind::Text;
    static const std::vector<Member> members = {
        {"AddOverlayRect",
         {{"id", N}, {"x1", N}, {"y1", N}, {"x2", N}, {"y2", N}, {"width", N}, {"color", C}, {"bColor", C},
          {"attribute", N}}},
        {"AddOverlayEllipse",
         {{"id", N}, {"x1", N}, {"y1", N}, {"x2", N}, {"y2", N}, {"width", N}, {"color", C}, {"bColor", C},
          {"attribute", N}}},
        {"AddOverlayLine",
         {{"id", N}, {"x1", N}, {"y1", N}, {"x2", N}, {"y2", N}, {"width", N}, {"color", C}, {"attribute", N}}},
        {"AddOverlayPixel", {{"id", N}, {"x", N}, {"y", N}, {"color", C}, {"attribute", N}}},
        {"AddOverlayText",
         {{"id", N}, {"x1", N}, {"y1", N}, {"x2", N}, {"y2", N}, {"color", C}, {"bkColor", C}, {"size", N},
          {"style", N}, {"font", T}, {"text", T}, {"attribute", N}}},
        {"RemoveOverlayObject", {{"id", N}}},
        {"SetOverlayTransparentColor", {{"ck", C}}},
        {"ClearOverlay", {}},
        {"DrawOverlay", {}},
    };
    return members;
}

struct Failure {
    int line = 0;
    std::string message;
};

struct Token {
    std::string text;
    bool bQuoted = false;
};

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The line's words; a quoted one keeps what is between its quotes, \" and \\ unescaped.
bool SplitLine(const std::string& line, std::vector<Token>* tokens, std::string* error)
{
    size_t i = 0;
    while (true) {
        while (i < line.size() && IsBlank(line[i]))
            ++i;
        if (i == line.size())
            return true;
        Token token;
        if (line[i] == '"') {
            const size_t start = i++;
            token.bQuoted = true;
            while (i < line.size() && line[i] != '"') {
                if (line[i] == '\\' && i + 1 < line.size() && (line[i + 1] == '"' || line[i + 1] == '\\'))
                    ++i;
                token.text += line[i++];
            }
            if (i == line.size()) {
                *error = "the text that starts in column " + std::to_string(start + 1) + " has no closing quote";
                return false;
            }
            if (++i < line.size() && !IsBlank(line[i])) {
                *error = "a blank must follow the closing quote in column " + std::to_string(i);
                return false;
            }
        } else {
            while (i < line.size() && !IsBlank(line[i]))
                token.text += line[i++];
        }
        tokens->push_back(std::move(token));
    }
}

// Decimal with an optional sign from -2^31, or 0x with one to eight hex digits: 32 bits.
bool ParseNumber(const std::string& text, int32_t* value)
{
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        if (text.size() > 10)
            return false;
        uint32_t v = 0;
        for (size_t i = 2; i < text.size(); ++i) {
            const int d = HexDigit(text[i]);
            if (d < 0)
                return false;
            v = v << 4 | static_cast<uint32_t>(d);
        }
        *value = static_cast<int32_t>(v);
        return true;
    }
    const bool negative = !text.empty() && text[0] == '-';
    const size_t first = !text.empty() && (text[0] == '-' || text[0] == '+') ? 1 : 0;
    if (first == text.size() || text.size() - first > 10)
        return false;
    int64_t v = 0;
    for (size_t i = first; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        v = v * 10 + (text[i] - '0');
    }
    if (negative)
        v = -v;
    // Up to 2^32 - 1, taken as its bits, as a colour or an unsigned value is written.
    if (v < INT32_MIN || v > int64_t{UINT32_MAX})
        return false;
    *value = static_cast<int32_t>(static_cast<uint32_t>(v));
    return true;
}

// none, #RRGGBB (turned into COLORREF 0x00BBGGRR) or a number.
bool ParseColour(const std::string& text, int32_t* value)
{
    if (text == "none") {
        *value = -1;
        return true;
    }
    if (text.size() == 7 && text[0] == '#') {
        uint32_t rgb = 0;
        for (size_t i = 1; i < 7; ++i) {
            const int d = HexDigit(text[i]);
            if (d < 0)
                return false;
            rgb = rgb << 4 | static_cast<uint32_t>(d);
        }
        *value = static_cast<int32_t>((rgb & 0xFF) << 16 | (rgb & 0xFF00) | (rgb >> 16 & 0xFF));
        return true;
    }
    return ParseNumber(text, value);
}

std::string Signature(const Member& m)
{
    std::string s = m.name;
    for (const Parameter& p : m.parameters)
        s += std::string(" ") + p.name;
    return s;
}

bool ParseCall(const std::vector<Token>& tokens, OverlayCall* call, std::string* error)
{
    const Member* member = nullptr;
    for (const Member& m : Members())
        member = tokens[0].text == m.name ? &m : member;
    if (member == nullptr) {
        std::string names;
        for (const Member& m : Members())
            names += (names.empty() ? "" : ", ") + std::string(m.name);
        *error = "\"" + tokens[0].text + "\" is not an overlay member (" + names + ")";
        return false;
    }
    const size_t given = tokens.size() - 1, wanted = member->parameters.size();
    if (given != wanted) {
        *error = std::string(member->name) + " takes " + std::to_string(wanted) +
                 (wanted == 1 ? " argument" : " arguments") + " (" + Signature(*member) + "), not " +
                 std::to_string(given);
        return false;
    }
    call->member = member->name;
    for (size_t i = 0; i < wanted; ++i) {
        const Parameter& p = member->parameters[i];
        const Token& t = tokens[i + 1];
        OverlayArgument a;
        bool ok = true;
        const char* expected = "";
        switch (p.kind) {
        case Kind::Text:
            a.bText = true;
            a.text = t.text;
            break;
        case Kind::Number:
            ok = !t.bQuoted && ParseNumber(t.text, &a.value);
            expected = "a number (decimal, or 0x and at most eight hex digits)";
            break;
        case Kind::Colour:
            ok = !t.bQuoted && ParseColour(t.text, &a.value);
            expected = "a colour (#RRGGBB, none or a number)";
            break;
        }
        if (!ok) {
            *error = std::string(member->name) + "'s " + p.name + " is " + (t.bQuoted ? "the text \"" : "\"") +
                     t.text + "\", not " + expected;
            return false;
        }
        call->arguments.push_back(std::move(a));
    }
    return true;
}

bool Parse(const std::string& text, std::vector<OverlayCall>* calls, Failure* failure)
{
    std::vector<OverlayCall> out;
    size_t start = 0;
    for (int number = 1; start <= text.size(); ++number) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        const size_t first = line.find_first_not_of(" \t\r");
        if (first == std::string::npos || line[first] == '#')
            continue;
        std::vector<Token> tokens;
        OverlayCall call;
        call.line = number;
        if (!SplitLine(line, &tokens, &failure->message) || !ParseCall(tokens, &call, &failure->message)) {
            failure->line = number;
            return false;
        }
        out.push_back(std::move(call));
    }
    *calls = std::move(out);
    return true;
}

// A script is a screenful of lines; anything far larger is not one.
constexpr size_t kLargestScriptBytes = 1 << 20;

} // namespace

bool ParseOverlayScript(const std::string& text, std::vector<OverlayCall>* calls, std::string* error)
{
    Failure f;
    if (Parse(text, calls, &f))
        return true;
    *error = "line " + std::to_string(f.line) + ": " + f.message;
    return false;
}

bool ReadOverlayScript(const std::string& path, std::vector<OverlayCall>* calls, std::string* error)
{
    std::string text;
    if (int e = px::FileReadAll(path.c_str(), kLargestScriptBytes, &text); e != 0) {
        *error = "cannot read " + path + ": " + std::strerror(e);
        return false;
    }
    Failure f;
    if (Parse(text, calls, &f))
        return true;
    *error = path + ":" + std::to_string(f.line) + ": " + f.message;
    return false;
}

std::string OverlayScriptMembers()
{
    std::string s;
    for (const Member& m : Members())
        s += "  " + Signature(m) + "\n";
    return s;
}

} // namespace pxtool
