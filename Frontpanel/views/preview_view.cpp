#include "Frontpanel/views/preview_view.h"

#include "Frontpanel/views/frame_renderer.h"
#include "Frontpanel/views/preview_audio.h"
#include "platform/core/allocator_tuning.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMetaObject>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QSlider>
#include <QStyle>
#include <QVBoxLayout>

#include <cmath>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace qv::ui {

// Owns the renderer; draws the newest frame asked for and hands it to the view.
class PreviewRenderThread {
public:
    PreviewRenderThread(std::unique_ptr<FrameRenderer> renderer, PreviewView *view,
                        std::uint64_t generation)
        : renderer_(std::move(renderer)), view_(view), generation_(generation),
          thread_([this] { run(); }) {}
    ~PreviewRenderThread() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }
    FrameRenderer &renderer() { return *renderer_; }
    void request(std::int64_t index) {
        {
            std::lock_guard lock(mutex_);
            wanted_ = index; // an older wish not yet started is dropped
        }
        wake_.notify_all();
    }
    // While playing, the frame after the one asked for is decoded while the compositor draws
    // that one: playback asks for it next.
    void setReadAhead(bool on) {
        std::lock_guard lock(mutex_);
        readAhead_ = on;
    }

private:
    void run() {
        // The frame started ahead, and its index.
        FrameRenderer::Request ahead;
        std::int64_t aheadIndex = -1;
        for (;;) {
            std::int64_t index;
            bool readAhead;
            {
                std::unique_lock lock(mutex_);
                wake_.wait(lock, [&] { return stop_ || wanted_ >= 0; });
                if (stop_) return;
                index = std::exchange(wanted_, -1);
                readAhead = readAhead_;
            }
            Result<FrameRenderer::Request> started = Error{};
            if (ahead && aheadIndex == index)
                started = std::move(ahead);
            else
                started = renderer_->start(index);
            ahead.reset();
            aheadIndex = -1;
            if (started && readAhead && index + 1 < renderer_->frameCount()) {
                auto next = renderer_->start(index + 1);
                if (next) {
                    ahead = std::move(*next);
                    aheadIndex = index + 1;
                }
            }
            auto frame = started ? FrameRenderer::finish(*started)
                                 : Result<platform::PixelBufferRef>(started.error());
            QImage image;
            QString error;
            if (frame)
                image = FrameRenderer::toImage(**frame);
            else
                error = QString::fromStdString(frame.error().message);
            QMetaObject::invokeMethod(
                view_,
                [view = view_, generation = generation_, index, image = std::move(image), error] {
                    if (view) view->delivered(generation, index, image, error);
                },
                Qt::QueuedConnection);
        }
    }

    std::unique_ptr<FrameRenderer> renderer_;
    QPointer<PreviewView> view_;
    const std::uint64_t generation_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::int64_t wanted_ = -1;
    bool readAhead_ = false;
    bool stop_ = false;
    std::thread thread_; // last: starts after the members it uses
};

PreviewCanvas::PreviewCanvas(QWidget *parent) : QWidget(parent) {
    setObjectName(QStringLiteral("previewCanvas"));
    setMinimumSize(320, 180);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void PreviewCanvas::setFrame(QImage frame) {
    frame_ = std::move(frame);
    message_.clear();
    update();
}

void PreviewCanvas::setOverlay(QString text) {
    overlay_ = std::move(text);
    update();
}

void PreviewCanvas::setMessage(QString text) {
    message_ = std::move(text);
    update();
}

QRect PreviewCanvas::frameRect() const {
    if (frame_.isNull()) return {};
    const QSize fitted = frame_.size().scaled(size(), Qt::KeepAspectRatio);
    return {(width() - fitted.width()) / 2, (height() - fitted.height()) / 2, fitted.width(),
            fitted.height()};
}

void PreviewCanvas::paintEvent(QPaintEvent *) {
    QPainter p(this);
    p.fillRect(rect(), QColor(24, 24, 27));
    if (!frame_.isNull()) {
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        p.drawImage(frameRect(), frame_);
    }
    if (!message_.isEmpty()) {
        p.setPen(QColor(228, 228, 231));
        p.drawText(rect().adjusted(16, 16, -16, -16), Qt::AlignCenter | Qt::TextWordWrap, message_);
    }
    if (!overlay_.isEmpty()) {
        const QRect box = p.fontMetrics().boundingRect(overlay_).adjusted(-6, -3, 6, 3);
        const QRect placed = box.translated(8 - box.left(), 8 - box.top());
        p.fillRect(placed, QColor(0, 0, 0, 170));
        p.setPen(QColor(134, 239, 172));
        p.drawText(placed, Qt::AlignCenter, overlay_);
    }
}

void PreviewCanvas::resizeEvent(QResizeEvent *) {
    emit resized();
}

PreviewView::PreviewView(QWidget *parent) : QWidget(parent) {
    setObjectName(QStringLiteral("preview"));
    canvas_ = new PreviewCanvas(this);
    audio_ = new PreviewAudio(this);
    playButton_ = new QPushButton(style()->standardIcon(QStyle::SP_MediaPlay), QString(), this);
    playButton_->setObjectName(QStringLiteral("play"));
    playButton_->setToolTip(QStringLiteral("Play / pause (Space)"));
    backButton_ =
        new QPushButton(style()->standardIcon(QStyle::SP_MediaSeekBackward), QString(), this);
    backButton_->setToolTip(QStringLiteral("Previous frame"));
    forwardButton_ =
        new QPushButton(style()->standardIcon(QStyle::SP_MediaSeekForward), QString(), this);
    forwardButton_->setToolTip(QStringLiteral("Next frame"));
    slider_ = new QSlider(Qt::Horizontal, this);
    slider_->setObjectName(QStringLiteral("scrubber"));
    timeLabel_ = new QLabel(QStringLiteral("0:00.000"), this);

    auto *controls = new QHBoxLayout;
    controls->addWidget(backButton_);
    controls->addWidget(playButton_);
    controls->addWidget(forwardButton_);
    controls->addWidget(slider_, 1);
    controls->addWidget(timeLabel_);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(canvas_, 1);
    layout->addLayout(controls);

    clock_.setTimerType(Qt::PreciseTimer);
    connect(&clock_, &QTimer::timeout, this, &PreviewView::tick);
    // A window being resized sends many sizes: the last one counts.
    refit_.setSingleShot(true);
    refit_.setInterval(250);
    connect(canvas_, &PreviewCanvas::resized, this, [this] {
        if (isOpen() && bounds_) refit_.start();
    });
    connect(&refit_, &QTimer::timeout, this, &PreviewView::refit);
    connect(playButton_, &QPushButton::clicked, this, [this] { playing_ ? pause() : play(); });
    connect(backButton_, &QPushButton::clicked, this, [this] { step(-1); });
    connect(forwardButton_, &QPushButton::clicked, this, [this] { step(1); });
    connect(slider_, &QSlider::valueChanged, this, [this](int value) {
        if (!sliderFromCode_) seekToFrame(value);
    });
    canvas_->setMessage(QStringLiteral("Select a recording in the library."));
    updateControls();
}

PreviewView::~PreviewView() {
    thread_.reset();
}

Status PreviewView::open(const std::filesystem::path &folder, std::optional<Edits> edits,
                         std::optional<Size> bounds) {
    auto status = openRenderer(folder, std::move(edits), bounds);
    if (status) seekToFrame(0);
    return status;
}

Status PreviewView::openRenderer(const std::filesystem::path &folder, std::optional<Edits> edits,
                                 std::optional<Size> bounds) {
    close();
    std::optional<Size> canvas;
    if (bounds) {
        auto meta = RecordingMeta::readFromRecording(folder);
        if (!meta) return meta.error();
        renderSize_ = CompositionBuilder::renderSize({double(meta->width), double(meta->height)});
        canvas = canvasFor(renderSize_, *bounds);
    }
    edits_ = edits;
    auto renderer = FrameRenderer::open(folder, std::move(edits), canvas);
    if (!renderer) {
        canvas_->setFrame({});
        canvas_->setMessage(QString::fromStdString(renderer.error().message));
        updateControls();
        return renderer.error();
    }
    folder_ = folder;
    bounds_ = bounds;
    drawn_ = {double((*renderer)->width()), double((*renderer)->height())};
    const auto sounds = (*renderer)->asset().tracksWithMediaType(platform::media::MediaType::audio);
    audio_->setTrack(sounds.empty() ? std::nullopt
                                    : std::optional<platform::media::CompositionTrack>(*sounds[0]));
    thread_ = std::make_unique<PreviewRenderThread>(std::move(*renderer), this, ++generation_);
    updateControls();
    return Ok{};
}

Status PreviewView::setEdits(const Edits &edits) {
    if (!isOpen()) return Error{"no recording is open"};
    return reopen(edits);
}

Size PreviewView::canvasFor(Size renderSize, Size bounds) const {
    // Drawing more pixels than the picture area shows costs time and memory for nothing: the
    // widget would only scale them down.
    if (canvas_->isVisible() && canvas_->width() >= 16 && canvas_->height() >= 16) {
        const double dpr = canvas_->devicePixelRatioF();
        bounds = {std::min(bounds.width, std::ceil(canvas_->width() * dpr)),
                  std::min(bounds.height, std::ceil(canvas_->height() * dpr))};
    }
    return FrameRenderer::fittedCanvas(renderSize, bounds);
}

void PreviewView::refit() {
    if (!isOpen() || !bounds_) return;
    // A clearly larger area is worth a new renderer. A somewhat smaller one shows the frame
    // scaled down; a much smaller one (a recording opened while the window was hidden, drawn at
    // the full canvas) is drawn again smaller, for the memory and time it saves.
    const double wanted = canvasFor(renderSize_, *bounds_).width;
    if (wanted > drawn_.width * 1.1 || wanted * 1.5 < drawn_.width) reopen(edits_);
}

Status PreviewView::reopen(std::optional<Edits> edits) {
    const std::int64_t at = std::max<std::int64_t>(shownIndex_, 0);
    const std::int64_t atMs = thread_->renderer().timeMsOf(at);
    const bool wasPlaying = playing_;
    const std::filesystem::path folder = folder_;
    auto status = openRenderer(folder, std::move(edits), bounds_);
    if (!status) return status;
    // The same time of the edited timeline, which the new edits may have moved to another frame.
    seekToFrame(thread_->renderer().frameIndexAt(atMs));
    if (wasPlaying) play();
    return Ok{};
}

void PreviewView::close() {
    pause();
    audio_->setTrack(std::nullopt);
    if (thread_) {
        thread_.reset();
        platform::returnFreeMemory(); // the renderer's decoders and frames
    }
    requested_ = shownIndex_ = -1;
    updateControls();
}

bool PreviewView::isOpen() const {
    return thread_ != nullptr;
}

std::int64_t PreviewView::frameCount() const {
    return thread_ ? thread_->renderer().frameCount() : 0;
}

double PreviewView::framesPerSecond() const {
    return thread_ ? thread_->renderer().framesPerSecond() : 0;
}

void PreviewView::play() {
    if (!thread_ || playing_) return;
    if (shownIndex_ >= frameCount() - 1) seekToFrame(0);
    playing_ = true;
    playFrom_ = std::max<std::int64_t>(requested_, 0);
    playingFor_.start();
    shownAt_.clear();
    thread_->setReadAhead(true);
    audio_->play(thread_->renderer().timeMsOf(playFrom_));
    clock_.start(std::max(1, int(500 / std::max(1.0, framesPerSecond()))));
    updateControls();
}

void PreviewView::pause() {
    if (!playing_) return;
    playing_ = false;
    clock_.stop();
    audio_->stop();
    if (thread_) thread_->setReadAhead(false);
    updateControls();
}

void PreviewView::seekToFrame(std::int64_t index) {
    if (!thread_) return;
    index = std::clamp<std::int64_t>(index, 0, std::max<std::int64_t>(frameCount() - 1, 0));
    if (playing_) {
        playFrom_ = index;
        playingFor_.restart();
        audio_->play(thread_->renderer().timeMsOf(index));
    }
    request(index);
}

void PreviewView::step(int frames) {
    pause();
    seekToFrame(std::max<std::int64_t>(requested_, 0) + frames);
}

void PreviewView::setShowFrameRate(bool show) {
    showFrameRate_ = show;
    if (!show) canvas_->setOverlay({});
}

int PreviewView::shownPerSecond() const {
    return static_cast<int>(shownAt_.size());
}

void PreviewView::tick() {
    if (!thread_) return;
    const double fps = framesPerSecond();
    const std::int64_t due = playFrom_ + std::int64_t(playingFor_.elapsed() * fps / 1000.0);
    if (due >= frameCount()) {
        request(frameCount() - 1);
        pause();
        return;
    }
    request(due);
}

void PreviewView::request(std::int64_t index) {
    if (index == requested_) return;
    requested_ = index;
    thread_->request(index);
}

void PreviewView::delivered(std::uint64_t generation, std::int64_t index, QImage frame,
                            QString error) {
    if (!thread_ || generation != generation_) return;
    if (!error.isEmpty()) {
        pause();
        canvas_->setMessage(error);
        emit failed(error);
        return;
    }
    shownIndex_ = index;
    canvas_->setFrame(std::move(frame));
    if (playing_) {
        const qint64 now = playingFor_.elapsed();
        shownAt_.push_back(now);
        while (!shownAt_.empty() && shownAt_.front() <= now - 1000) shownAt_.pop_front();
    }
    if (showFrameRate_)
        canvas_->setOverlay(QStringLiteral("%1 fps shown · frame %2/%3")
                                .arg(playing_ ? shownPerSecond() : 0)
                                .arg(index + 1)
                                .arg(frameCount()));
    updateControls();
    emit frameShown(index);
}

void PreviewView::updateControls() {
    const bool open = thread_ != nullptr;
    for (QWidget *w : {static_cast<QWidget *>(playButton_), static_cast<QWidget *>(backButton_),
                       static_cast<QWidget *>(forwardButton_), static_cast<QWidget *>(slider_)})
        w->setEnabled(open);
    playButton_->setIcon(
        style()->standardIcon(playing_ ? QStyle::SP_MediaPause : QStyle::SP_MediaPlay));
    sliderFromCode_ = true;
    slider_->setRange(0, int(std::max<std::int64_t>(frameCount() - 1, 0)));
    if (shownIndex_ >= 0) slider_->setValue(int(shownIndex_));
    sliderFromCode_ = false;
    const std::int64_t ms =
        open && shownIndex_ >= 0 ? thread_->renderer().timeMsOf(shownIndex_) : 0;
    timeLabel_->setText(QStringLiteral("%1:%2.%3")
                            .arg(ms / 60000)
                            .arg((ms / 1000) % 60, 2, 10, QLatin1Char('0'))
                            .arg(ms % 1000, 3, 10, QLatin1Char('0')));
}

} // namespace qv::ui
