// The recording engine behind the session model: starts, pauses, resumes and finishes a
// recording session (Frontpanel/recording) of the whole screen with the user's input, into a new
// recording of the library named after the moment it began. Finishing (the media are finalised)
// runs on a thread of its own, so the interface stays responsive; the model shows "finishing"
// meanwhile.
//
// Thread safety: GUI thread; the session's failure report is carried over to it.
#pragma once

#include "Frontpanel/views/recording_session_model.h"
#include "platform/core/executor.h"

#include <QObject>
#include <QString>

#include <memory>
#include <optional>
#include <string>
#include <thread>

namespace qv::frontpanel {
class RecordingSession;
}

namespace qv::ui {

class RecordingEngine : public QObject {
    Q_OBJECT
public:
    // Attaches itself to `model` when this desktop can record its screen; otherwise the model
    // stays without an engine and `unavailableReason()` says why.
    RecordingEngine(RecordingSessionModel &model, platform::Executor &mainExecutor,
                    QObject *parent = nullptr);
    ~RecordingEngine() override;

    const std::optional<std::string> &unavailableReason() const { return unavailable_; }

    // A name for a recording begun at this moment that no folder in the library has yet.
    static std::string newRecordingId();

signals:
    // The new recording is complete in the library; `warnings` lists what was left out.
    void recordingFinished(const QString &id, const QStringList &warnings);
    // Nothing could be recorded, or the recording could not be completed.
    void recordingFailed(const QString &message);

private:
    void start();
    void pause();
    void resume();
    void stop();

    RecordingSessionModel &model_;
    platform::Executor &mainExecutor_;
    std::optional<std::string> unavailable_;
    std::unique_ptr<frontpanel::RecordingSession> session_;
    std::string id_;
    std::thread finishing_;
};

} // namespace qv::ui
