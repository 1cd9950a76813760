// A directory of resource files that disappears with the test.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

class TempResources {
public:
    TempResources() {
        char pattern[] = "/tmp/rules_test.XXXXXX";
        const char* made = mkdtemp(pattern);
        if (made != nullptr) m_dir = made;
        m_dir += "/";
    }
    ~TempResources() {
        const std::string cmd = "rm -rf '" + m_dir + "'";
        if (std::system(cmd.c_str()) != 0) std::perror("rm");
    }
    TempResources(const TempResources&) = delete;
    TempResources& operator=(const TempResources&) = delete;

    // name as the plug-in asks for it, with '\'.
    void Write(std::string name, const std::string& text) const {
        for (char& c : name)
            if (c == '\\') c = '/';
        const std::string path = m_dir + name;
        const std::string mk = "mkdir -p \"$(dirname '" + path + "')\"";
        if (std::system(mk.c_str()) != 0) std::perror("mkdir");
        std::ofstream(path, std::ios::binary) << text;
    }
    const std::string& Dir() const { return m_dir; }

private:
    std::string m_dir;
};
