// The preview's sound: the composition's microphone track, laid out on the edited timeline the
// way the export mixes it (platform::media::AudioTimeline), played through Qt Multimedia's audio
// output from a given time. Silent when the composition has no sound or the system no output.
// Thread safety: GUI thread only.
#pragma once

#include "platform/media/asset.h"

#include <QObject>
#include <QTimer>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

class QAudioSink;
class QIODevice;

namespace qv::platform::media {
class AudioTimeline;
}

namespace qv::ui {

class PreviewAudio : public QObject {
    Q_OBJECT
public:
    static constexpr int sampleRate = 48000, channels = 2;

    explicit PreviewAudio(QObject *parent = nullptr);
    ~PreviewAudio() override;

    // The sound to play (none: silence).
    void setTrack(std::optional<platform::media::CompositionTrack> track);
    bool hasTrack() const { return track_.has_value(); }
    // Plays from timeline millisecond `fromMs`; false when there is nothing to play or no
    // output device (the problem is logged once).
    bool play(std::int64_t fromMs);
    void stop();
    bool isPlaying() const { return sink_ != nullptr; }
    // Samples per channel handed to the output since play().
    std::int64_t samplesWritten() const { return written_; }

private:
    void feed();

    std::optional<platform::media::CompositionTrack> track_;
    std::unique_ptr<platform::media::AudioTimeline> timeline_;
    QAudioSink *sink_ = nullptr;
    QIODevice *io_ = nullptr;
    QTimer feeder_;
    std::vector<float> left_, right_;
    std::vector<float> interleaved_;
    std::int64_t written_ = 0;
    bool warned_ = false;
};

} // namespace qv::ui
