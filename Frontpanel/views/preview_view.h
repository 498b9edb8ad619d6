// The live preview of one recording with its edit document: frames come from a FrameRenderer on
// a render thread of the view's own; play, pause, scrubbing and single-frame steps. Playback
// follows the clock: the render thread always draws the newest frame asked for and skips those
// it had no time for, so a slow machine shows fewer frames, never a late picture. An optional
// overlay shows the frames shown per second.
// Thread safety: GUI thread only (the render thread is internal).
#pragma once

#include "interfaces/persistence/edits.h"
#include "platform/core/result.h"

#include <QElapsedTimer>
#include <QImage>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <optional>

class QLabel;
class QPushButton;
class QSlider;

namespace qv::ui {

class PreviewAudio;
class PreviewRenderThread;

// The picture area: the latest frame, letterboxed, and the overlay.
class PreviewCanvas : public QWidget {
    Q_OBJECT
public:
    explicit PreviewCanvas(QWidget *parent = nullptr);
    void setFrame(QImage frame);
    void setOverlay(QString text);
    void setMessage(QString text);
    const QImage &frame() const { return frame_; }
    // Where the frame is drawn in this widget.
    QRect frameRect() const;

signals:
    void resized();

protected:
    void paintEvent(QPaintEvent *) override;
    void resizeEvent(QResizeEvent *) override;

private:
    QImage frame_;
    QString overlay_, message_;
};

class PreviewView : public QWidget {
    Q_OBJECT
public:
    explicit PreviewView(QWidget *parent = nullptr);
    ~PreviewView() override;

    // Opens a recording; `edits` absent reads its "edits.json". The frame at the current time is
    // drawn when it is ready (frameShown). `bounds` caps the canvas (the export's own otherwise);
    // with bounds, the canvas is also no larger than the picture area shows it, and is drawn
    // again when that area grows, or shrinks a good deal.
    Status open(const std::filesystem::path &folder, std::optional<Edits> edits = std::nullopt,
                std::optional<Size> bounds = std::nullopt);
    // Keeps the position and draws the same time with another edit document.
    Status setEdits(const Edits &edits);
    void close();
    bool isOpen() const;

    void play();
    void pause();
    bool isPlaying() const { return playing_; }
    void seekToFrame(std::int64_t index);
    void step(int frames);

    std::int64_t frameCount() const;
    std::int64_t shownFrame() const { return shownIndex_; }
    double framesPerSecond() const;
    void setShowFrameRate(bool show);
    PreviewCanvas *canvas() const { return canvas_; }
    // Frames shown during the last second of playback.
    int shownPerSecond() const;
    // The sound played with the picture.
    PreviewAudio *audio() const { return audio_; }

signals:
    void frameShown(qint64 index);
    void failed(const QString &message);

private:
    friend class PreviewRenderThread;
    Status openRenderer(const std::filesystem::path &folder, std::optional<Edits> edits,
                        std::optional<Size> bounds);
    // Opens the recording again with these edits, at the same time of the edited timeline.
    Status reopen(std::optional<Edits> edits);
    // The canvas for the export's `renderSize` within `bounds` and the picture area.
    Size canvasFor(Size renderSize, Size bounds) const;
    // Opens the recording again when its area has grown or shrunk a good deal.
    void refit();
    void tick();
    void request(std::int64_t index);
    void delivered(std::uint64_t generation, std::int64_t index, QImage frame, QString error);
    void updateControls();

    PreviewCanvas *canvas_;
    QPushButton *playButton_, *backButton_, *forwardButton_;
    QSlider *slider_;
    QLabel *timeLabel_;
    PreviewAudio *audio_;
    std::unique_ptr<PreviewRenderThread> thread_;
    std::filesystem::path folder_;
    std::optional<Size> bounds_;
    std::optional<Edits> edits_;  // absent: the recording's own "edits.json"
    Size renderSize_{}, drawn_{}; // the export's canvas, and the one drawn
    QTimer clock_, refit_;
    QElapsedTimer playingFor_;
    std::uint64_t generation_ = 0; // of the render thread; older deliveries are dropped
    std::int64_t playFrom_ = 0, requested_ = -1, shownIndex_ = -1;
    bool playing_ = false, showFrameRate_ = false, sliderFromCode_ = false;
    std::deque<qint64> shownAt_; // ms of playingFor_, the last second's frames
};

} // namespace qv::ui
