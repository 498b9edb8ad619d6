#include "Frontpanel/views/recording_engine.h"

#include "Frontpanel/recording/recording_session.h"
#include "interfaces/persistence/recording.h"

#include <QMetaObject>
#include <QPointer>
#include <QStringList>

#include <ctime>
#include <filesystem>
#include <memory>

namespace qv::ui {

using State = RecordingSessionModel::State;

RecordingEngine::RecordingEngine(RecordingSessionModel &model, platform::Executor &mainExecutor,
                                 QObject *parent)
    : QObject(parent), model_(model), mainExecutor_(mainExecutor),
      unavailable_(frontpanel::RecordingSession::captureUnavailableReason()) {
    if (unavailable_) return;
    model_.attachEngine(
        {[this] { start(); }, [this] { pause(); }, [this] { resume(); }, [this] { stop(); }});
}

RecordingEngine::~RecordingEngine() {
    if (finishing_.joinable()) {
        finishing_.join();
        return;
    }
    // A recording still running when the app quits is completed, not thrown away.
    if (session_) session_->finish();
}

std::string RecordingEngine::newRecordingId() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[64];
    std::strftime(stamp, sizeof stamp, "recording-%Y%m%d-%H%M%S", &local);
    const std::filesystem::path folder = RecordingStore::recordingsDirectory();
    std::string id = stamp;
    std::error_code ec;
    for (int n = 2; std::filesystem::exists(folder / id, ec); ++n)
        id = std::string(stamp) + "-" + std::to_string(n);
    return id;
}

void RecordingEngine::start() {
    if (session_ || finishing_.joinable()) return;
    frontpanel::RecordingSession::Options options;
    options.id = newRecordingId();
    QPointer<RecordingEngine> self(this);
    auto started = frontpanel::RecordingSession::start(
        options, mainExecutor_, [self](const std::string &message) {
            // On a capture thread: stop on the GUI thread, which writes what still works.
            QMetaObject::invokeMethod(
                self.data(),
                [self, message] {
                    if (!self) return;
                    emit self->recordingFailed(QString::fromStdString(message));
                    self->stop();
                },
                Qt::QueuedConnection);
        });
    if (!started) {
        model_.setState(State::idle);
        emit recordingFailed(QString::fromStdString(started.error().message));
        return;
    }
    session_ = std::move(*started);
    id_ = options.id;
    model_.setState(State::recording);
}

void RecordingEngine::pause() {
    if (!session_) return;
    session_->pause();
    model_.setState(State::paused);
}

void RecordingEngine::resume() {
    if (!session_) return;
    session_->resume();
    model_.setState(State::recording);
}

void RecordingEngine::stop() {
    if (!session_ || finishing_.joinable()) return;
    model_.setState(State::finishing);
    QPointer<RecordingEngine> self(this);
    finishing_ = std::thread([self, session = session_.get(), id = id_] {
        auto outcome =
            std::make_shared<Result<frontpanel::RecordingSession::Outcome>>(session->finish());
        QMetaObject::invokeMethod(
            self.data(),
            [self, id, outcome] {
                if (!self) return;
                self->finishing_.join();
                self->session_.reset();
                self->model_.setState(State::idle);
                if (!*outcome) {
                    emit self->recordingFailed(QString::fromStdString(outcome->error().message));
                    return;
                }
                QStringList warnings;
                for (const std::string &w : (*outcome)->warnings)
                    warnings << QString::fromStdString(w);
                emit self->recordingFinished(QString::fromStdString(id), warnings);
            },
            Qt::QueuedConnection);
    });
}

} // namespace qv::ui
