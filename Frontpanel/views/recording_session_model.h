// The recording session as the views see it: one of five states, and the commands the tray menu
// and the recording bar give. The capture itself is done by a recording engine attached with
// attachEngine(); without one the commands are unavailable (canRecord() is false) and the
// state stays idle.
// Thread safety: GUI thread only.
#pragma once

#include <QObject>

#include <functional>

namespace qv::ui {

class RecordingSessionModel : public QObject {
    Q_OBJECT
public:
    // In this order: the label mapping depends on the case index.
    enum class State { idle, countdown, recording, paused, finishing };

    // What a recording engine provides; each command reports its new state through setState().
    struct Engine {
        std::function<void()> start, pause, resume, stop;
    };

    explicit RecordingSessionModel(QObject *parent = nullptr);

    State state() const noexcept { return state_; }
    bool canRecord() const noexcept { return static_cast<bool>(engine_.start); }
    void attachEngine(Engine engine);

    void start();
    void pause();
    void resume();
    void stop();

    // Called by the engine when its state changes.
    void setState(State state);

signals:
    void stateChanged(qv::ui::RecordingSessionModel::State state);
    void canRecordChanged(bool canRecord);

private:
    State state_ = State::idle;
    Engine engine_;
};

// The tray label's state for a session state: 0 → 0, 1 → 1, 2 → 1, 3 → 2, 4 → 3 by case index;
// the countdown and the recording share the recording look.
int menuBarLabelState(RecordingSessionModel::State state);

} // namespace qv::ui
