#include "Frontpanel/views/preview_audio.h"

#include "platform/core/log.h"
#include "platform/media/audio_timeline.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QMediaDevices>

#include <algorithm>

namespace qv::ui {

namespace media = platform::media;

namespace {
constexpr int chunk = 1024; // samples per channel per read
}

PreviewAudio::PreviewAudio(QObject *parent) : QObject(parent) {
    feeder_.setInterval(10);
    connect(&feeder_, &QTimer::timeout, this, &PreviewAudio::feed);
}

PreviewAudio::~PreviewAudio() {
    stop();
}

void PreviewAudio::setTrack(std::optional<media::CompositionTrack> track) {
    stop();
    track_ = std::move(track);
}

bool PreviewAudio::play(std::int64_t fromMs) {
    stop();
    if (!track_) return false;
    const platform::Logger log("com.quillvane", "preview");
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (device.isNull()) {
        if (!warned_) log.info("no audio output device: the preview plays without sound");
        warned_ = true;
        return false;
    }
    auto timeline = media::AudioTimeline::open(*track_, sampleRate, channels);
    if (!timeline) {
        if (!warned_) log.error("%s", timeline.error().message.c_str());
        warned_ = true;
        return false;
    }
    timeline_ = std::move(*timeline);
    left_.assign(chunk, 0);
    right_.assign(chunk, 0);
    if (auto moved = timeline_->seek(
            media::AudioTimeline::samplesFor(std::max<std::int64_t>(fromMs, 0), sampleRate));
        !moved) {
        if (!warned_) log.error("%s", moved.error().message.c_str());
        warned_ = true;
        timeline_.reset();
        return false;
    }
    QAudioFormat format;
    format.setSampleRate(sampleRate);
    format.setChannelCount(channels);
    format.setSampleFormat(QAudioFormat::Float);
    if (!device.isFormatSupported(format)) format.setSampleFormat(QAudioFormat::Int16);
    sink_ = new QAudioSink(device, format, this);
    sink_->setBufferSize(sampleRate / 10 * channels * format.bytesPerSample()); // 100 ms
    io_ = sink_->start();
    if (!io_) {
        stop();
        return false;
    }
    written_ = 0;
    feed();
    feeder_.start();
    return true;
}

void PreviewAudio::stop() {
    feeder_.stop();
    if (sink_) {
        sink_->stop();
        delete sink_;
    }
    sink_ = nullptr;
    io_ = nullptr;
    timeline_.reset();
}

void PreviewAudio::feed() {
    if (!sink_ || !io_ || !timeline_) return;
    const QAudioFormat format = sink_->format();
    const int frameBytes = format.bytesPerFrame();
    float *planes[2] = {left_.data(), right_.data()};
    while (sink_->bytesFree() >= chunk * frameBytes) {
        if (!timeline_->read(planes, chunk)) {
            feeder_.stop();
            return;
        }
        const bool stereo = timeline_->channels() == 2;
        QByteArray bytes(chunk * frameBytes, Qt::Uninitialized);
        if (format.sampleFormat() == QAudioFormat::Float) {
            auto *out = reinterpret_cast<float *>(bytes.data());
            for (int i = 0; i < chunk; ++i) {
                out[2 * i] = left_[i];
                out[2 * i + 1] = stereo ? right_[i] : left_[i];
            }
        } else {
            auto *out = reinterpret_cast<qint16 *>(bytes.data());
            auto toInt = [](float v) { return qint16(std::clamp(v, -1.0f, 1.0f) * 32767.0f); };
            for (int i = 0; i < chunk; ++i) {
                out[2 * i] = toInt(left_[i]);
                out[2 * i + 1] = toInt(stereo ? right_[i] : left_[i]);
            }
        }
        io_->write(bytes);
        written_ += chunk;
    }
}

} // namespace qv::ui
