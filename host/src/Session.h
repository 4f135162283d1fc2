#pragma once

#include "HostFramework.h"
#include "InstallTree.h"
#include "Outcome.h"
#include "ProgressObservers.h"
#include "StopSignals.h"

#include "halvexconnector/tripwire/Enumerations.h"

#include <cstddef>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

namespace tripwire_host {

// Folders given with --first-folder-override and --second-folder-override.
struct FolderOverrides {
    std::optional<std::string> first;
    std::optional<std::string> second;

    bool any() const { return first.has_value() || second.has_value(); }
};

// A terminal on which a command may show what happens while it runs, and its width in columns.
struct LiveOutput {
    std::ostream* out = nullptr;
    std::size_t width = 80;
};

// What every subcommand gets: the chosen mode and, on first use, the framework with the module
// (and the folder-override service when overrides were given). While the framework runs, a stop
// signal stops it.
class Session {
public:
    Session(InstallTree tree, halvexconnector::tripwire::HALVEXServicesMode mode,
            FolderOverrides overrides = {}, StopSignals* signals = nullptr,
            std::optional<LiveOutput> live = std::nullopt, bool json = false)
        : tree(std::move(tree)), chosenMode(mode), overrides(std::move(overrides)),
          signals(signals), live(live), json(json) {}
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    halvexconnector::tripwire::HALVEXServicesMode mode() const { return chosenMode; }
    HostFramework& framework();
    // Where to show progress; none when standard output is no terminal or JSON was asked for.
    const std::optional<LiveOutput>& liveOutput() const { return live; }
    const FolderOverrides& folderOverrides() const { return overrides; }
    StopSignals* stopSignals() const { return signals; }
    // The session's install observer (registered with the framework); it knows why the last
    // install or start failed.
    const std::shared_ptr<StageWatcher>& stageWatcher() const { return stages; }
    // Sets `outcome.error` to the failure the module told or, when it told none, to `fallback`.
    void explainFailure(Outcome& outcome, const std::string& fallback) const;
    // Prints a line on standard output at once, ahead of the result; nothing with --json, where
    // the one object must carry it.
    void tell(const std::string& line) const;

private:
    InstallTree tree;
    halvexconnector::tripwire::HALVEXServicesMode chosenMode;
    FolderOverrides overrides;
    StopSignals* signals;
    std::optional<LiveOutput> live;
    bool json;
    std::shared_ptr<StageWatcher> stages = std::make_shared<StageWatcher>();
    std::unique_ptr<HostFramework> host;
};

} // namespace tripwire_host
