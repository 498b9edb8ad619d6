// The recording session as the views see it: one of five states, and the commands the tray menu
// and the recording bar give. start() counts down (the settings' seconds) before it asks the
// engine to start; stop() during the countdown calls it off. The capture itself is done by a
// recording engine attached with attachEngine(); without one the commands are unavailable
// (canRecord() is false) and the state stays idle.
// Thread safety: GUI thread only.
#pragma once

#include <QObject>
#include <QTimer>

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

    // Seconds counted down before the engine starts (0: at once).
    void setCountdownSeconds(int seconds) { countdownSeconds_ = seconds; }
    int countdownSeconds() const { return countdownSeconds_; }
    // Seconds left of a running countdown.
    int countdownLeft() const { return countdownLeft_; }

    void start();
    void pause();
    void resume();
    void stop();

    // Called by the engine when its state changes.
    void setState(State state);

signals:
    void stateChanged(qv::ui::RecordingSessionModel::State state);
    void countdownTick(int secondsLeft);
    void canRecordChanged(bool canRecord);

private:
    void tick();

    State state_ = State::idle;
    Engine engine_;
    int countdownSeconds_ = 0, countdownLeft_ = 0;
    QTimer countdown_;
};

// The tray label's state for a session state: 0 → 0, 1 → 1, 2 → 1, 3 → 2, 4 → 3 by case index;
// the countdown and the recording share the recording look.
int menuBarLabelState(RecordingSessionModel::State state);

} // namespace qv::ui
