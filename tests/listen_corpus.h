#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Music made in code, with its beats known exactly, for listening's tests and its
// benchmark: drums, a bass line and a pad played by a seeded player a little off the
// beat, with noise; a held change, a slow ramp, a silence and a half-time section where
// asked. Plain C++ and libsndfile; the same seed gives the same samples on every machine.
namespace tempocalc::corpus {

struct PieceOptions {
    std::uint64_t seed = 1;
    double sampleRate = 48000;
    double seconds = 30;    // the piece's length; beats are placed up to its end
    double bpm = 120;       // quarter notes, at the first beat
    double firstBeat = 0.7; // the first beat's time; before it, only the noise
    bool swing = false;     // off-beat eighths at two thirds of the beat instead of half
    double timing = 0.015;  // each note off its place by up to this, either way (seconds)
    double snrDb = 30;      // the music's power over the noise's
    // A held change: from the first beat at or after `changeAt` seconds, `changeRatio`
    // times the tempo (0: none).
    double changeAt = 0;
    double changeRatio = 1;
    // A slow ramp: the tempo goes linearly, beat by beat, to `rampRatio` times itself at
    // the end of the piece.
    double rampRatio = 1;
    // The music stops for `silenceBeats` beats from the first beat at or after
    // `silenceAt` seconds (0: none); the noise goes on.
    double silenceAt = 0;
    int silenceBeats = 8;
    // Half-time feel for `halfTimeBars` bars from the first bar at or after `halfTimeAt`:
    // kick on one, snare on three, hats on the quarters (0: none).
    double halfTimeAt = 0;
    int halfTimeBars = 4;
    // The drums' pattern: 0 rock (kick on one and three, snare on two and four, eighth
    // hats), 1 four on the floor with off-beat hats, 2 a busier kick; -1 picks by seed.
    int pattern = -1;
};

struct Piece {
    PieceOptions options;
    std::vector<float> samples; // mono, peak 0.9
    std::vector<double> beats;  // every quarter-note beat, silence included (seconds)
    std::vector<double> bpms;   // the tempo from each beat to the next
    double changeTime = -1;     // the first beat at the changed tempo, or -1
    double silenceStart = -1, silenceEnd = -1;   // beats without music: [start, end)
    double halfTimeStart = -1, halfTimeEnd = -1; // [start, end)

    double seconds() const { return static_cast<double>(samples.size()) / options.sampleRate; }
    // The tempo at `time`: the tempo of the beat interval that holds it.
    double bpmAt(double time) const;
};

Piece generate(const PieceOptions& options);

enum class Format { wav16, wavFloat, flac };
// Writes the piece with `channels` identical channels. Returns an empty string, or
// what went wrong.
std::string write(const Piece& piece, const std::string& path, Format format = Format::wav16,
                  int channels = 1);

} // namespace tempocalc::corpus
