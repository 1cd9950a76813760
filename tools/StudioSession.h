// The studio's state for one resource folder: the designer's unsaved edits
// in a scratch copy, the exact odds and `check` findings recomputed on every
// edit, saving back into the folder, simulations in the background and the
// comparison with a baseline folder. The web server only forwards to it.
#pragma once

#include <atomic>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>

namespace tools {

class StudioSession {
public:
    StudioSession() = default;
    ~StudioSession();
    StudioSession(const StudioSession&) = delete;
    StudioSession& operator=(const StudioSession&) = delete;

    // False with error when dir is no directory or cannot be copied.
    bool Open(const std::string& dir, const std::string& baselineDir, const std::string& pluginPath,
              std::string& error);

    // Everything the page shows, recomputed from the edited data.
    nlohmann::json State();
    // Sets one field of one entry and answers the new state, or {"error": ...}.
    nlohmann::json Edit(const std::string& file, int line, int field, const std::string& text);
    // Writes the edited bytes of file into the folder. Refused while check
    // rates the edited data as an error, or the file changed on disk since it
    // was read, unless confirm is set.
    nlohmann::json Save(const std::string& file, bool confirm);
    // Throws the edits of file away.
    nlohmann::json Discard(const std::string& file);

    nlohmann::json StartSimulation(int creator, long long selects, int teamSize);
    nlohmann::json Simulation();

    // True for the table files the studio edits ("Npc/ModelProb.ini", ...).
    static bool IsEditableFile(const std::string& file);
    const std::filesystem::path& dir() const { return m_dir; }

private:
    nlohmann::json StateLocked();
    bool WriteScratch(const std::string& file, const std::string& bytes);

    std::mutex m_mutex;
    std::filesystem::path m_dir;      // canonical
    std::filesystem::path m_scratch;  // the edited copy
    std::string m_baseline;
    std::string m_plugin;
    std::map<std::string, std::string> m_onDisk;  // file -> bytes when read or saved
    std::map<std::string, std::string> m_edited;  // file -> edited bytes, unsaved

    struct SimRun;
    std::shared_ptr<SimRun> m_sim;
    std::thread m_simThread;
};

}  // namespace tools
