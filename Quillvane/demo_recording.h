// The bundled synthetic recording of `quillvane demo`: a desktop-like screen video in which text
// is typed into an editor and a window is dragged aside, with the pointer path, clicks and key
// chords as track files, a microphone track with the clicks and key taps, a webcam video of a
// person in a room, and an edit document with two captions, an automatic zoom, a moving solid
// mask over a password field, a webcam bubble that grows to a large picture and back, and a trim.
#pragma once

#include "platform/core/result.h"

#include <filesystem>

namespace qv::demo {

struct RecordingOptions {
    int width = 1920, height = 1080; // even
    int framesPerSecond = 30;
    int seconds = 8;       // at least 4
    bool withEdits = true; // false: no "edits.json", the recording exports with the defaults
};

// Writes the recording's files into `folder` (created if needed): "meta.json", "screen.mp4",
// "webcam.mp4", "mic.m4a", "clicks.json", "cursor.json", "keys.json" and, with edits, "edits.json".
Status writeRecording(const std::filesystem::path &folder, const RecordingOptions &options);

} // namespace qv::demo
