// A scratch folder of the test, removed with everything in it at the end.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace platformtest {

class CScratch {
public:
    CScratch()
    {
        char pattern[] = "/tmp/pellix-test-XXXXXX";
        m_path = mkdtemp(pattern) != nullptr ? pattern : "";
    }
    ~CScratch()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    CScratch(const CScratch&) = delete;
    CScratch& operator=(const CScratch&) = delete;

    const std::string& Path() const { return m_path; }
    std::string In(const std::string& name) const { return m_path + "/" + name; }
    void Write(const std::string& name, const std::string& text) const
    {
        std::filesystem::create_directories(std::filesystem::path(In(name)).parent_path());
        std::ofstream(In(name), std::ios::binary) << text;
    }

private:
    std::string m_path;
};

} // namespace platformtest
