// The default plug-in and resource locations of rulehost, found from the path
// of the running executable.
#include "InstallLayout.h"

#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

namespace host {

namespace {

// Directory of the running executable (symlinks resolved), "" when unknown.
std::string ExecutableDir() {
    char buf[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return std::string();
    const std::string path(buf, size_t(n));
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return std::string();
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

bool Exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

// dir + "/" + relative with its leading "../" steps taken; dir comes from
// /proc/self/exe, so it holds no symbolic links and the steps are exact.
std::string Join(std::string dir, std::string relative) {
    while (relative.compare(0, 3, "../") == 0 && dir.size() > 1) {
        dir.erase(dir.rfind('/') == 0 ? 1 : dir.rfind('/'));
        relative.erase(0, 3);
    }
    return dir.back() == '/' ? dir + relative : dir + "/" + relative;
}

std::string Choose(const char* installedRelative, const char* buildPath) {
    const std::string dir = ExecutableDir();
    const std::string installed = dir.empty() ? std::string() : Join(dir, installedRelative);
    if (!installed.empty() && Exists(installed)) return installed;
    if (Exists(buildPath) || installed.empty()) return buildPath;
    return installed;
}

}  // namespace

const std::string& DefaultPluginPath() {
    static const std::string path = Choose(GAMERULES_INSTALLED_PLUGIN, GAMERULES_BUILD_PLUGIN);
    return path;
}

const std::string& DefaultResourceDir() {
    static const std::string path =
        Choose(GAMERULES_INSTALLED_RESOURCES, GAMERULES_SOURCE_RESOURCES);
    return path;
}

}  // namespace host
