// ExportEngine: turns one stored recording, with its edit document, into a finished movie and
// its side files. It asks the editor component for the composition, runs the export session
// while publishing progress, and reports every outcome through `phase`; it never throws.
//
// Threading: every member must be called on the main executor given at construction; phase
// observers, completions and the progress task (every 0.2 s) run there too.
// Lifetime: the executor must outlive the engine. Destroying the engine cancels a running
// build or export (no file is left behind) and waits for their threads.
#pragma once

#include "Cutbench/composition_builder.h"
#include "Outfitter/export_preset.h"
#include "interfaces/persistence/recording.h"
#include "platform/core/executor.h"
#include "platform/media/export_session.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>

namespace qv {

class ExportEngine {
public:
    struct Phase {
        struct Exporting {
            double fraction = 0; // 0 to 1
            friend bool operator==(const Exporting &, const Exporting &) = default;
        };
        struct Finished {
            std::optional<std::filesystem::path> url;
            friend bool operator==(const Finished &, const Finished &) = default;
        };
        struct Failed {
            std::string message; // shown to the user as it is
            friend bool operator==(const Failed &, const Failed &) = default;
        };
        struct Idle {
            friend bool operator==(const Idle &, const Idle &) = default;
        };
        struct Cancelled {
            friend bool operator==(const Cancelled &, const Cancelled &) = default;
        };

        std::variant<Exporting, Finished, Failed, Idle, Cancelled> value = Idle{};

        static Phase exporting(double fraction) { return {Exporting{fraction}}; }
        static Phase finished(std::optional<std::filesystem::path> url) {
            return {Finished{std::move(url)}};
        }
        static Phase failed(std::string message) { return {Failed{std::move(message)}}; }
        static Phase idle() { return {Idle{}}; }
        static Phase cancelled() { return {Cancelled{}}; }

        template <class Case> bool is() const noexcept {
            return std::holds_alternative<Case>(value);
        }
        template <class Case> const Case *as() const noexcept { return std::get_if<Case>(&value); }
        // "exporting 42%", "finished /path", "failed: message", "idle", "cancelled".
        std::string description() const;

        friend bool operator==(const Phase &, const Phase &) = default;
    };

    using PhaseObserver = std::function<void(const Phase &)>;
    using ObserverId = std::uint64_t;
    // Finds a recording's folder by its identifier; the default asks the recording store.
    using RecordingLocator =
        std::function<Result<std::filesystem::path>(const std::string &recordingId)>;

    explicit ExportEngine(platform::Executor &mainExecutor, RecordingLocator locator = {});
    ~ExportEngine();
    ExportEngine(const ExportEngine &) = delete;
    ExportEngine &operator=(const ExportEngine &) = delete;

    const Phase &phase() const noexcept { return phase_; }
    bool isExporting() const noexcept { return phase_.is<Phase::Exporting>(); }

    // Observers are told of every assignment to the phase, in registration order.
    ObserverId observePhase(PhaseObserver observer);
    void removePhaseObserver(ObserverId id);

    // Exports recording `recordingId` with `preset` to the file `to`, with a Markdown report
    // beside it when `includeMarkdown` is set. Returns at once; `completion` runs on the
    // executor when the outcome is in `phase`.
    void exportRecording(const std::string &recordingId, ExportPreset preset,
                         const std::filesystem::path &to, bool includeMarkdown,
                         std::function<void()> completion = {});
    // With true, later exports use the default edit document whatever "edits.json" holds (for a
    // user who wants the default look even though the document cannot be read).
    void setIgnoreEdits(bool ignore) noexcept { ignoreEdits_ = ignore; }

    // Stops a running build or export at once; the phase becomes `cancelled` whatever it was.
    void cancel();
    // Back to `idle`, unless an export is running.
    void reset();

    // A file in `folder` (default: the user's videos folder, else the temporary folder) named
    // after the recording's source, that does not exist yet.
    static std::filesystem::path
    defaultOutputURL(const RecordingMeta &meta, ExportPreset preset,
                     const std::optional<std::filesystem::path> &folder = std::nullopt);
    // The user's videos folder: XDG_VIDEOS_DIR of the XDG user-dirs file, else ~/Videos;
    // nullopt without a home folder.
    static std::optional<std::filesystem::path> moviesDirectory();
    // The base file name rule of defaultOutputURL (without counter and extension).
    static std::string baseName(const RecordingMeta &meta);

    // The session of the current or last export, for inspection; null before the first.
    std::shared_ptr<platform::media::AssetExportSession> session() const { return session_; }

private:
    struct Request;
    void setPhase(Phase phase);
    void continueAfterBuild(std::shared_ptr<Request> request, CompositionBuilder::Outcome outcome);
    void continueAfterExport(std::shared_ptr<Request> request,
                             std::optional<platform::media::MediaError> error);
    void fail(const platform::media::MediaError &error);
    void cancelStatesTask();

    platform::Executor &executor_;
    RecordingLocator locator_;
    Phase phase_;
    std::shared_ptr<platform::media::AssetExportSession> session_;
    std::shared_ptr<platform::media::AssetExportSession::StatesTask> statesTask_;
    std::shared_ptr<CompositionBuilder::Task> buildTask_;
    std::shared_ptr<Request> current_;
    std::map<ObserverId, PhaseObserver> observers_;
    ObserverId nextObserver_ = 1;
    std::uint64_t generation_ = 0;
    bool ignoreEdits_ = false;
    // Continuations hold this weakly, so that none reaches a destroyed engine.
    std::shared_ptr<ExportEngine *> lifeline_ = std::make_shared<ExportEngine *>(this);
};

} // namespace qv
