// What the tools' tests share: running a program and collecting its exit
// code and output (they drive rulehost and the headless browser the way a
// user would), and scratch copies of a resource directory.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace tools {

struct ProcessResult {
    int exitCode = -1;  // -1 when the program could not be started or was killed
    std::string out;
    std::string err;
};

// Runs argv[0] (searched in PATH) with argv, stdin from /dev/null, in
// workingDir when not empty.
inline ProcessResult RunProcess(const std::vector<std::string>& argv,
                                const std::string& workingDir = "") {
    ProcessResult result;
    if (argv.empty()) return result;
    int outPipe[2];
    int errPipe[2];
    if (pipe(outPipe) != 0) return result;
    if (pipe(errPipe) != 0) {
        close(outPipe[0]);
        close(outPipe[1]);
        return result;
    }
    const pid_t pid = fork();
    if (pid < 0) {
        for (int fd : {outPipe[0], outPipe[1], errPipe[0], errPipe[1]}) close(fd);
        return result;
    }
    if (pid == 0) {
        const int devNull = open("/dev/null", O_RDONLY);
        if (devNull >= 0) dup2(devNull, 0);
        dup2(outPipe[1], 1);
        dup2(errPipe[1], 2);
        for (int fd : {outPipe[0], outPipe[1], errPipe[0], errPipe[1]}) close(fd);
        if (!workingDir.empty() && chdir(workingDir.c_str()) != 0) _exit(127);
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    close(outPipe[1]);
    close(errPipe[1]);
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open = 2;
    char buf[65536];
    while (open > 0) {
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
            const ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                sinks[i]->append(buf, size_t(n));
            } else if (n == 0 || errno != EINTR) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    for (auto& f : fds) {
        if (f.fd >= 0) close(f.fd);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

// True when an executable of that name is on PATH.
inline bool ProgramOnPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    if (path == nullptr) return false;
    std::string dirs = path;
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        const std::string candidate = dirs.substr(start, end - start) + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0) return true;
        start = end + 1;
    }
    return false;
}

inline std::string ReadWholeFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

inline void WriteWholeFile(const std::filesystem::path& path, const std::string& text) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes; optionally a copy of a resource
// directory to change file by file.
class ScratchDir {
public:
    explicit ScratchDir(const std::string& copyOf = "") {
        std::string tmpl = (std::filesystem::temp_directory_path() / "tools_test_XXXXXX").string();
        if (mkdtemp(tmpl.data()) != nullptr) m_dir = tmpl;
        if (!copyOf.empty() && !m_dir.empty()) {
            std::filesystem::copy(copyOf, m_dir, std::filesystem::copy_options::recursive);
        }
    }
    ~ScratchDir() {
        std::error_code ec;
        if (!m_dir.empty()) std::filesystem::remove_all(m_dir, ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::filesystem::path& path() const { return m_dir; }
    std::string str() const { return m_dir.string(); }
    void Write(const std::string& relative, const std::string& text) const {
        WriteWholeFile(m_dir / relative, text);
    }

private:
    std::filesystem::path m_dir;
};

}  // namespace tools
