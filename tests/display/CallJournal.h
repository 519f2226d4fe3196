// What a scripted graphics layer saw and how it is to answer: every call recorded as
// "Name(arguments)", and the failures a test scripted for calls by name (both layers' result
// codes are 32-bit values, 0 for success).
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

namespace displaytest {

struct SCallJournal {
    std::vector<std::string> calls;
    std::map<std::string, std::deque<uint32_t>> failures;

    // The next call of name answers hr (calls of name fail in the order given).
    void Fail(const std::string& name, uint32_t hr) { failures[name].push_back(hr); }

    // Records the call and answers the scripted result, else 0.
    uint32_t Call(const std::string& name, const std::string& arguments = "")
    {
        calls.push_back(name + "(" + arguments + ")");
        auto it = failures.find(name);
        if (it == failures.end() || it->second.empty())
            return 0;
        const uint32_t hr = it->second.front();
        it->second.pop_front();
        return hr;
    }

    // Calls whose name (before the parenthesis) is name.
    int Count(const std::string& name) const
    {
        int n = 0;
        for (const std::string& call : calls)
            n += call.compare(0, name.size() + 1, name + "(") == 0;
        return n;
    }
};

} // namespace displaytest
