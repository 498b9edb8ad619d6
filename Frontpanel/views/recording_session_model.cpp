#include "Frontpanel/views/recording_session_model.h"

namespace qv::ui {

RecordingSessionModel::RecordingSessionModel(QObject *parent) : QObject(parent) {
    countdown_.setInterval(1000);
    connect(&countdown_, &QTimer::timeout, this, &RecordingSessionModel::tick);
}

void RecordingSessionModel::attachEngine(Engine engine) {
    const bool before = canRecord();
    engine_ = std::move(engine);
    if (before != canRecord()) emit canRecordChanged(canRecord());
}

void RecordingSessionModel::start() {
    if (state_ != State::idle || !engine_.start) return;
    if (countdownSeconds_ <= 0) {
        engine_.start();
        return;
    }
    countdownLeft_ = countdownSeconds_;
    setState(State::countdown);
    emit countdownTick(countdownLeft_);
    countdown_.start();
}

void RecordingSessionModel::tick() {
    if (state_ != State::countdown) {
        countdown_.stop();
        return;
    }
    emit countdownTick(--countdownLeft_);
    if (countdownLeft_ > 0) return;
    countdown_.stop();
    if (engine_.start)
        engine_.start();
    else
        setState(State::idle);
}

void RecordingSessionModel::pause() {
    if (state_ == State::recording && engine_.pause) engine_.pause();
}

void RecordingSessionModel::resume() {
    if (state_ == State::paused && engine_.resume) engine_.resume();
}

void RecordingSessionModel::stop() {
    if (state_ == State::countdown) {
        // Nothing was recorded yet: the countdown is called off.
        countdown_.stop();
        countdownLeft_ = 0;
        setState(State::idle);
        return;
    }
    if ((state_ == State::recording || state_ == State::paused) && engine_.stop) engine_.stop();
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
