#include "Outfitter/export_engine.h"

#include "Outfitter/markdown_sidecar.h"
#include "Outfitter/output_safety.h"
#include "Outfitter/subtitle_sidecar.h"
#include "interfaces/persistence/edits.h"
#include "platform/core/log.h"
#include "platform/core/partial_file.h"

#include <chrono>
#include <cstdio>

namespace qv {

namespace fs = std::filesystem;
namespace media = platform::media;

namespace {

constexpr auto progressInterval = std::chrono::milliseconds(200);

const platform::Logger &sideFileLog() {
    static const platform::Logger log("com.quillvane.export", "sidefiles");
    return log;
}

} // namespace

struct ExportEngine::Request {
    std::uint64_t generation = 0;
    ExportPreset preset = ExportPreset::web;
    fs::path url;
    bool includeMarkdown = false;
    fs::path directory;
    RecordingMeta meta;
    Edits edits;
    std::int64_t sourceDurationMs = 0; // known once the composition is built
    std::function<void()> completion;
    bool cancelRequested = false;
    bool sessionStarted = false;
    bool outcomeIgnored = false; // reset() dropped the session

    void done() const {
        if (completion) completion();
    }
};

std::string ExportEngine::Phase::description() const {
    if (auto e = as<Exporting>()) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "exporting %.0f%%", e->fraction * 100);
        return buf;
    }
    if (auto f = as<Finished>()) return f->url ? "finished " + f->url->string() : "finished";
    if (auto f = as<Failed>()) return "failed: " + f->message;
    if (is<Cancelled>()) return "cancelled";
    return "idle";
}

ExportEngine::ExportEngine(platform::Executor &mainExecutor, RecordingLocator locator)
    : executor_(mainExecutor), locator_(std::move(locator)) {
    if (!locator_)
        locator_ = [](const std::string &id) {
            return RecordingStore::recordingDirectory(id, false);
        };
}

ExportEngine::~ExportEngine() {
    lifeline_.reset();
    cancelStatesTask();
    buildTask_.reset(); // cancels the build and waits for its thread
    if (session_) session_->cancelExport();
    session_.reset(); // waits for the export's threads; the partial file goes with them
}

ExportEngine::ObserverId ExportEngine::observePhase(PhaseObserver observer) {
    const ObserverId id = nextObserver_++;
    observers_.emplace(id, std::move(observer));
    return id;
}

void ExportEngine::removePhaseObserver(ObserverId id) {
    observers_.erase(id);
}

void ExportEngine::setPhase(Phase phase) {
    phase_ = std::move(phase);
    // A copy, so that an observer may add or remove observers.
    const auto observers = observers_;
    for (const auto &[id, observer] : observers)
        if (observer) observer(phase_);
}

void ExportEngine::cancelStatesTask() {
    if (statesTask_) statesTask_->cancel();
}

void ExportEngine::exportRecording(const std::string &recordingId, ExportPreset preset,
                                   const fs::path &to, bool includeMarkdown,
                                   std::function<void()> completion) {
    auto directory = locator_(recordingId);
    if (!directory) {
        setPhase(Phase::failed("Recording not found"));
        if (completion) completion();
        return;
    }
    auto meta = RecordingMeta::read(directory.value());
    if (!meta) {
        setPhase(Phase::failed("Recording not found"));
        if (completion) completion();
        return;
    }
    // Nothing is touched when the output could destroy something (a folder, a device, a file of
    // the recording, or the movie itself overwritten by one of its side files) or would carry the
    // extension of another container.
    if (auto problem = ExportOutput::problem(directory.value(), to, preset, includeMarkdown)) {
        setPhase(Phase::failed(*problem));
        if (completion) completion();
        return;
    }
    // A document that exists but cannot be read fails the export: the default look would drop
    // the user's masks, trims and captions without a word. Only a missing document means the
    // default, or a caller that asked to ignore the edits.
    Edits edits = Edits::defaults();
    if (!ignoreEdits_) {
        auto read = Edits::readFromRecording(directory.value());
        if (!read) {
            setPhase(Phase::failed(read.error().message));
            if (completion) completion();
            return;
        }
        if (read->has_value()) edits = std::move(**read);
    }
    // Partial movies of exports that were killed are of no use to anyone.
    std::error_code ec;
    platform::sweepAbandonedPartialFiles(to.has_parent_path() ? to.parent_path()
                                                              : fs::current_path(ec));

    auto request = std::make_shared<Request>();
    request->generation = ++generation_;
    request->preset = preset;
    request->url = to;
    request->includeMarkdown = includeMarkdown;
    request->directory = directory.value();
    request->meta = meta.value();
    request->edits = std::move(edits);
    request->completion = std::move(completion);
    current_ = request;

    std::weak_ptr<ExportEngine *> weak = lifeline_;
    buildTask_ = CompositionBuilder::build(
        request->directory, request->meta, request->edits, executor_,
        [weak, request](CompositionBuilder::Outcome outcome) {
            if (auto engine = weak.lock())
                (*engine)->continueAfterBuild(request, std::move(outcome));
        });
}

void ExportEngine::continueAfterBuild(std::shared_ptr<Request> request,
                                      CompositionBuilder::Outcome outcome) {
    // An export that a newer one or a reset replaced has nothing more to say.
    if (request->generation != generation_) return request->done();
    // Cancelled while the finished build was on its way here: it stays cancelled.
    if (request->cancelRequested) {
        setPhase(Phase::cancelled());
        return request->done();
    }
    if (auto *error = std::get_if<media::MediaError>(&outcome)) {
        fail(*error);
        return request->done();
    }
    const EditorComposition &composition = std::get<EditorComposition>(outcome);
    request->sourceDurationMs = composition.sourceDurationMs;

    const bool passthrough = request->edits.isPassthroughEligible(composition.sourceDurationMs) &&
                             !composition.zoomPath.hasZoom() &&
                             request->preset == ExportPreset::web;
    auto session = media::AssetExportSession::make(composition.asset,
                                                   passthrough ? ExportPreset::passthroughSettings()
                                                               : request->preset.sessionSettings());
    if (!session) {
        setPhase(Phase::failed("Unsupported preset"));
        return request->done();
    }
    if (!passthrough) {
        session->setVideoComposition(composition.videoComposition);
        session->setAudioMix(composition.audioMix);
    }
    session_ = session;
    request->sessionStarted = true;
    setPhase(Phase::exporting(0.0));

    std::weak_ptr<ExportEngine *> weak = lifeline_;
    statesTask_ = session->states(
        executor_, progressInterval, [weak](const media::AssetExportSession::State &state) {
            auto engine = weak.lock();
            if (!engine) return;
            if (state.kind == media::AssetExportSession::State::Kind::exporting)
                (*engine)->setPhase(Phase::exporting(state.fractionCompleted));
        });
    platform::Executor *executor = &executor_;
    session->exportAsynchronously(
        request->url, request->preset.fileType(),
        [weak, request, executor](std::optional<media::MediaError> error) {
            executor->post([weak, request, error = std::move(error)] {
                if (auto engine = weak.lock()) (*engine)->continueAfterExport(request, error);
            });
        });
}

void ExportEngine::continueAfterExport(std::shared_ptr<Request> request,
                                       std::optional<media::MediaError> error) {
    if (request->generation != generation_ || request->outcomeIgnored) return request->done();
    if (error) {
        fail(*error);
        return request->done();
    }
    cancelStatesTask();
    // A side file that cannot be written leaves the finished movie finished; the log says why.
    if (request->includeMarkdown)
        if (auto st = MarkdownSidecar::write(request->meta, request->edits,
                                             request->directory / "clicks.json", request->url);
            !st)
            sideFileLog().error("%s", st.error().message.c_str());
    if (auto st =
            SubtitleSidecar::write(SubtitleSidecar::captionsOnTimeline(
                                       request->edits.captions,
                                       SegmentMap::make(request->edits, request->sourceDurationMs),
                                       request->sourceDurationMs),
                                   request->url);
        !st)
        sideFileLog().error("%s", st.error().message.c_str());
    setPhase(Phase::finished(request->url));
    request->done();
}

void ExportEngine::fail(const media::MediaError &error) {
    if (error.isCancellation()) {
        setPhase(Phase::cancelled());
        return;
    }
    cancelStatesTask();
    // The movie was written under a partial file's name, which the writer has removed; whatever
    // is at the output path was there before this export and stays as it was.
    setPhase(Phase::failed(error.localizedDescription));
}

void ExportEngine::cancel() {
    cancelStatesTask();
    if (current_) current_->cancelRequested = true;
    if (buildTask_) buildTask_->cancel();
    if (session_) session_->cancelExport();
    setPhase(Phase::cancelled());
}

void ExportEngine::reset() {
    if (isExporting()) return;
    cancelStatesTask();
    // The dropped session's own report (a cancellation, most likely) is no longer of interest.
    if (current_ && current_->sessionStarted) current_->outcomeIgnored = true;
    session_.reset();
    setPhase(Phase::idle());
}

} // namespace qv
