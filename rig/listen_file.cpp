#include "listen_file.h"

#include "onset_front.h"

#include <sndfile.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string_view>

namespace tempocalc {

namespace {

constexpr double trusted_confidence = 0.1;

constexpr const char* program = "tempo-calculator";

std::string_view trimmed(std::string_view s) {
    const auto first = s.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) {
        return {};
    }
    return s.substr(first, s.find_last_not_of(" \t\r") - first + 1);
}

// Text from a file or the command line as an error shows it: control characters (C0,
// DEL, C1) and bytes that are not UTF-8 as \xNN, so that a binary file or an odd name
// given by mistake cannot write to the terminal; at most `longest` bytes of it, never
// half a character, then "...".
std::string shown(std::string_view text, std::size_t longest = std::string_view::npos) {
    std::string out;
    const auto escape = [&](unsigned char byte) {
        char escaped[5];
        std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
        out += escaped;
    };
    std::size_t at = 0;
    while (at < text.size() && at < longest) {
        const auto byte = static_cast<unsigned char>(text[at]);
        const std::size_t length = byte < 0x80                    ? 1
                                   : byte >= 0xc2 && byte <= 0xdf ? 2
                                   : byte >= 0xe0 && byte <= 0xef ? 3
                                   : byte >= 0xf0 && byte <= 0xf4 ? 4
                                                                  : 0;
        bool whole = length > 0 && at + length <= text.size();
        for (std::size_t i = 1; whole && i < length; ++i) {
            whole = (static_cast<unsigned char>(text[at + i]) & 0xc0) == 0x80;
        }
        if (!whole) {
            escape(byte);
            ++at;
        } else if (byte < 0x20 || byte == 0x7f ||
                   (byte == 0xc2 && static_cast<unsigned char>(text[at + 1]) < 0xa0)) {
            for (std::size_t i = 0; i < length; ++i) {
                escape(static_cast<unsigned char>(text[at + i]));
            }
            at += length;
        } else if (at + length > longest) {
            break;
        } else {
            out.append(text.substr(at, length));
            at += length;
        }
    }
    return at < text.size() ? out + "..." : out;
}

// libsndfile's words, as the end of our line.
std::string said(const char* message) {
    std::string text(message ? message : "unknown error");
    while (!text.empty() && (text.back() == '.' || text.back() == ' ')) {
        text.pop_back();
    }
    if (!text.empty()) {
        text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
    }
    return text;
}

struct CloseFile {
    void operator()(SNDFILE* file) const { sf_close(file); }
};

} // namespace

std::string readTaps(const std::string& path, std::vector<double>& taps) {
    taps.clear();
    std::ifstream in(path);
    if (!in) {
        return "cannot read the taps in " + shown(path) + ": " + std::strerror(errno);
    }
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        std::string_view text = trimmed(line);
        if (number == 1 && text.starts_with("\xef\xbb\xbf")) {
            text = trimmed(text.substr(3)); // the byte order mark some editors begin with
        }
        if (text.empty()) {
            continue;
        }
        double time = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), time);
        const std::string where = shown(path) + ", line " + std::to_string(number) + ": ";
        if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(time)) {
            return where + "\"" + shown(text, 40) + "\" is not a time in seconds";
        }
        if (time < 0) {
            return where + "a time before the file's start";
        }
        if (!taps.empty() && time <= taps.back()) {
            return where + "the times must increase";
        }
        taps.push_back(time);
    }
    if (in.bad()) {
        return "cannot read the taps in " + shown(path);
    }
    if (taps.empty()) {
        return shown(path) + " holds no taps";
    }
    return {};
}

std::string listenToFile(const std::string& path, const std::vector<double>& strikes,
                         ListenedFile& heard) {
    heard = {};
    SF_INFO info{};
    const std::unique_ptr<SNDFILE, CloseFile> file(sf_open(path.c_str(), SFM_READ, &info));
    if (!file) {
        std::error_code error;
        return "cannot listen to " + shown(path) + ": " +
               (std::filesystem::exists(path, error) ? said(sf_strerror(nullptr))
                                                     : std::string("no such file"));
    }
    const auto channels = static_cast<std::size_t>(info.channels);
    if (channels == 0 || info.samplerate <= 0) {
        return "cannot listen to " + shown(path) + ": no audio in it";
    }
    try {
        heard.sampleRate = info.samplerate;
        OnsetFront front(heard.sampleRate);
        ListenTracker tracker(static_cast<double>(front.hopSize()) / heard.sampleRate);
        constexpr std::size_t block = 4096;
        std::vector<float> frames(block * channels), mono(block);
        std::vector<OnsetFront::Hop> hops;
        std::size_t due = 0; // the next strike to give
        sf_count_t total = 0;
        bool trusted = false;
        for (;;) {
            const sf_count_t n = sf_readf_float(file.get(), frames.data(), block);
            if (n <= 0) {
                break;
            }
            total += n;
            for (std::size_t i = 0; i < static_cast<std::size_t>(n); ++i) {
                float sum = 0;
                for (std::size_t c = 0; c < channels; ++c) {
                    sum += frames[i * channels + c];
                }
                mono[i] = sum / static_cast<float>(channels);
            }
            hops.clear();
            front.push(mono.data(), static_cast<std::size_t>(n), hops);
            for (const OnsetFront::Hop& h : hops) {
                const double time = static_cast<double>(h.sample) / heard.sampleRate;
                // A strike reaches the tracker when the music has come to it, as it would live.
                while (due < strikes.size() && strikes[due] <= time) {
                    tracker.strike(strikes[due++], 1.0);
                }
                tracker.hop(time, h.complexDomain, h.energy);
                // Beats the tracker places before it has any trust in them (in the noise
                // before the music, say) are no beats of the music.
                const Heard now = tracker.heard();
                trusted = trusted || now.struck || now.state == Heard::State::locked ||
                          now.confidence >= trusted_confidence;
                for (const ListenTracker::Beat& b : tracker.takeBeats()) {
                    if (trusted) {
                        heard.beats.push_back(b);
                    }
                }
            }
        }
        if (sf_error(file.get()) != SF_ERR_NO_ERROR) {
            return "cannot listen to " + shown(path) + ": " + said(sf_strerror(file.get()));
        }
        if (total == 0) {
            return "cannot listen to " + shown(path) + ": no audio in it";
        }
        heard.seconds = static_cast<double>(total) / heard.sampleRate;
        // The tracker places beats up to half a beat ahead: none after the music.
        std::erase_if(heard.beats, [&](const ListenTracker::Beat& b) {
            return b.time < 0 || b.time >= heard.seconds;
        });
    } catch (const std::exception& e) {
        return "cannot listen to " + shown(path) + ": " + e.what();
    }
    return {};
}

std::string beatLine(const ListenTracker::Beat& beat) {
    char text[64];
    char* end = text;
    const auto put = [&](double value, int decimals) {
        end = std::to_chars(end, text + sizeof text - 2, value, std::chars_format::fixed, decimals)
                  .ptr;
    };
    put(beat.time, 3);
    *end++ = '\t';
    put(beat.bpm, 1);
    return std::string(text, end);
}

int runListen(int argc, char* argv[]) {
    const char* audio = nullptr;
    const char* tapsPath = nullptr;
    for (int i = 1; i < argc; ++i) {
        std::string_view word(argv[i]);
        // --listen FILE and --listen=FILE alike, as Qt's own parser takes them.
        const char* joined = nullptr;
        if (const auto equals = word.find('='); word.starts_with("--") && equals != word.npos) {
            joined = argv[i] + equals + 1;
            word = word.substr(0, equals);
        }
        if (!joined && (word == "--help" || word == "-h" || word == "--version" || word == "-v")) {
            return listen_asks_help;
        }
        const char** value = word == "--listen" ? &audio : word == "--taps" ? &tapsPath : nullptr;
        if (!value) {
            std::fprintf(stderr, "%s: --listen takes no option but --taps FILE, not %s\n", program,
                         shown(argv[i]).c_str());
            return 2;
        }
        if (*value) {
            std::fprintf(stderr, "%s: %.*s is given twice\n", program,
                         static_cast<int>(word.size()), word.data());
            return 2;
        }
        if (joined ? *joined == '\0' : i + 1 >= argc) {
            std::fprintf(stderr, "%s: %.*s needs a file\n", program, static_cast<int>(word.size()),
                         word.data());
            return 2;
        }
        *value = joined ? joined : argv[++i];
    }
    if (!audio) {
        std::fprintf(stderr, "%s: --taps goes with --listen FILE\n", program);
        return 2;
    }
    std::vector<double> taps;
    if (tapsPath) {
        if (const std::string problem = readTaps(tapsPath, taps); !problem.empty()) {
            std::fprintf(stderr, "%s: %s\n", program, problem.c_str());
            return 1;
        }
    }
    ListenedFile heard;
    if (const std::string problem = listenToFile(audio, taps, heard); !problem.empty()) {
        std::fprintf(stderr, "%s: %s\n", program, problem.c_str());
        return 1;
    }
    for (const ListenTracker::Beat& b : heard.beats) {
        std::printf("%s\n", beatLine(b).c_str());
    }
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "%s: cannot write the beats: %s\n", program, std::strerror(errno));
        return 1;
    }
    return 0;
}

} // namespace tempocalc
