#include "Frontpanel/views/recording_session_model.h"

namespace qv::ui {

RecordingSessionModel::RecordingSessionModel(QObject *parent) : QObject(parent) {
}

void RecordingSessionModel::attachEngine(Engine engine) {
    const bool before = canRecord();
    engine_ = std::move(engine);
    if (before != canRecord()) emit canRecordChanged(canRecord());
}

void RecordingSessionModel::start() {
    if (state_ == State::idle && engine_.start) engine_.start();
}

void RecordingSessionModel::pause() {
    if (state_ == State::recording && engine_.pause) engine_.pause();
}

void RecordingSessionModel::resume() {
    if (state_ == State::paused && engine_.resume) engine_.resume();
}

void RecordingSessionModel::stop() {
    if ((state_ == State::countdown || state_ == State::recording || state_ == State::paused) &&
        engine_.stop)
        engine_.stop();
}

void RecordingSessionModel::setState(State state) {
    if (state == state_) return;
    state_ = state;
    emit stateChanged(state);
}

int menuBarLabelState(RecordingSessionModel::State state) {
    static constexpr int mapping[] = {0, 1, 1, 2, 3};
    return mapping[static_cast<int>(state)];
}

} // namespace qv::ui
