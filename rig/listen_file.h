#pragma once

#include "listen_tracker.h"

#include <string>
#include <vector>

namespace tempocalc {

// What listening heard in an audio file, from its start to its end.
struct ListenedFile {
    double sampleRate = 0;
    double seconds = 0; // the file's length
    // Each beat placed, on the file's timeline, before the file's end.
    std::vector<ListenTracker::Beat> beats;
};

// The player's strikes from a text file: one time a line, in seconds from the audio
// file's start, with a "." before the decimals; increasing, blank lines allowed. Returns
// an empty string, or what is wrong with the file.
std::string readTaps(const std::string& path, std::vector<double>& taps);

// Listens to any file that libsndfile reads, mixed to mono, with the player's strikes
// (quarter notes, seconds from the file's start) given to the tracker as their time
// comes. Returns an empty string, or why the file could not be heard.
std::string listenToFile(const std::string& path, const std::vector<double>& strikes,
                         ListenedFile& heard);

// `tempo-calculator --listen FILE [--taps FILE]`: one line a beat on stdout,
// "<seconds>\t<BPM>"; a line on stderr and status 1 when the file or the taps cannot be
// used, status 2 for an option it does not know. Asked for --help or --version, it
// returns listen_asks_help and does nothing: the program's own answer is the one.
constexpr int listen_asks_help = -1;
int runListen(int argc, char* argv[]);

// The line printed for a beat, the same in every locale.
std::string beatLine(const ListenTracker::Beat& beat);

} // namespace tempocalc
