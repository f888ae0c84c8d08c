// `tempo-calculator --listen FILE [--taps FILE]`, the built program, on music made by
// tests/listen_corpus with its beats known: what it prints, what it refuses, and what the
// real tracker hears through strikes, a half-time section, a held change and a silence.
// Every run is without a display and with a settings folder of its own.

#include "listen_corpus.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace tempocalc {
namespace {

namespace fs = std::filesystem;

struct Outcome {
    int status = -1;
    std::string out, err;
};

std::string slurp(const fs::path& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

struct Beat {
    double time, bpm;
};

class ListenFile : public ::testing::Test {
protected:
    void SetUp() override {
        char name[] = "/tmp/listen_file_test.XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        folder_ = name;
        fs::create_directory(folder_ / "config");
    }
    void TearDown() override { fs::remove_all(folder_); }

    fs::path file(const std::string& name) const { return folder_ / name; }

    fs::path piece(const corpus::Piece& p, const std::string& name,
                   corpus::Format format = corpus::Format::wav16, int channels = 1) {
        const fs::path path = file(name);
        const std::string problem = corpus::write(p, path, format, channels);
        EXPECT_EQ(problem, "");
        return path;
    }

    fs::path text(const std::string& name, const std::string& content) {
        const fs::path path = file(name);
        std::ofstream(path) << content;
        return path;
    }

    fs::path taps(const std::string& name, const std::vector<double>& times) {
        std::ostringstream lines;
        lines.precision(6);
        for (const double t : times) {
            lines << std::fixed << t << '\n';
        }
        return text(name, lines.str());
    }

    // The program with `arguments`, no display, its own settings folder, and the extra
    // environment given ("NAME=value").
    // Its output goes to `stdoutTo` where given.
    Outcome run(const std::vector<std::string>& arguments,
                const std::vector<std::string>& environment = {}, const char* stdoutTo = nullptr) {
        const fs::path out = file("stdout"), err = file("stderr");
        const pid_t child = fork();
        if (child == 0) {
            const int o =
                open(stdoutTo ? stdoutTo : out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(o, STDOUT_FILENO);
            dup2(e, STDERR_FILENO);
            unsetenv("DISPLAY");
            unsetenv("WAYLAND_DISPLAY");
            unsetenv("QT_QPA_PLATFORM");
            setenv("XDG_CONFIG_HOME", (folder_ / "config").c_str(), 1);
            for (const std::string& assignment : environment) {
                putenv(const_cast<char*>(assignment.c_str()));
            }
            std::vector<char*> argv{const_cast<char*>(TEMPOCALC_PROGRAM)};
            for (const std::string& a : arguments) {
                argv.push_back(const_cast<char*>(a.c_str()));
            }
            argv.push_back(nullptr);
            execv(TEMPOCALC_PROGRAM, argv.data());
            _exit(127);
        }
        Outcome result;
        int status = 0;
        EXPECT_EQ(waitpid(child, &status, 0), child);
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        result.out = slurp(out);
        result.err = slurp(err);
        return result;
    }

    // The beats printed, each line checked for its form.
    static std::vector<Beat> beats(const Outcome& r) {
        static const std::regex line(R"((\d+\.\d{3})\t(\d+\.\d))");
        std::vector<Beat> heard;
        std::istringstream in(r.out);
        for (std::string l; std::getline(in, l);) {
            std::smatch m;
            EXPECT_TRUE(std::regex_match(l, m, line)) << "not a beat's line: \"" << l << '"';
            if (!m.empty()) {
                heard.push_back({std::stod(m[1]), std::stod(m[2])});
            }
        }
        return heard;
    }

    Outcome listen(const fs::path& audio, const fs::path& tapsFile = {}) {
        std::vector<std::string> arguments{"--listen", audio.string()};
        if (!tapsFile.empty()) {
            arguments.insert(arguments.end(), {"--taps", tapsFile.string()});
        }
        return run(arguments);
    }

    fs::path folder_;
};

// The share of the true beats in [from, to) that a beat heard is within 70 ms of.
double found(const std::vector<Beat>& heard, const std::vector<double>& truth, double from,
             double to) {
    int total = 0, hit = 0;
    for (const double t : truth) {
        if (t < from || t >= to) {
            continue;
        }
        ++total;
        hit += std::any_of(heard.begin(), heard.end(),
                           [&](const Beat& b) { return std::fabs(b.time - t) <= 0.070; });
    }
    return total ? double(hit) / total : 0;
}

// The share of the beats heard in [from, to) that are within 70 ms of a true beat.
double placed(const std::vector<Beat>& heard, const std::vector<double>& truth, double from,
              double to) {
    int total = 0, hit = 0;
    for (const Beat& b : heard) {
        if (b.time < from || b.time >= to) {
            continue;
        }
        ++total;
        hit += std::any_of(truth.begin(), truth.end(),
                           [&](double t) { return std::fabs(b.time - t) <= 0.070; });
    }
    return total ? double(hit) / total : 0;
}

// Where the player strikes: the given beats of the piece, a few ms off as a player is.
std::vector<double> strikesOn(const corpus::Piece& p, std::initializer_list<std::size_t> which) {
    const double off[] = {0.008, -0.006, 0.004, -0.009};
    std::vector<double> times;
    std::size_t n = 0;
    for (const std::size_t k : which) {
        times.push_back(p.beats[k] + off[n++ % 4]);
    }
    return times;
}

corpus::PieceOptions options(std::uint64_t seed, double bpm, double seconds = 24) {
    corpus::PieceOptions o;
    o.seed = seed;
    o.bpm = bpm;
    o.seconds = seconds;
    o.firstBeat = 1.3;
    return o;
}

// What is printed.

TEST_F(ListenFile, PrintsEachBeatOnceInOrderWithinTheFile) {
    // The file ends 80 ms before a beat, which the tracker places ahead of the music.
    const corpus::Piece p = corpus::generate(options(11, 112, 1.3 + 40 * 60.0 / 112 - 0.08));
    const Outcome r = listen(piece(p, "song.wav"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const std::vector<Beat> heard = beats(r);
    ASSERT_GT(heard.size(), 20u);
    for (std::size_t i = 0; i < heard.size(); ++i) {
        EXPECT_GE(heard[i].time, 0);
        EXPECT_LT(heard[i].time, p.seconds());
        EXPECT_GT(heard[i].bpm, 0);
        if (i > 0) {
            EXPECT_GT(heard[i].time, heard[i - 1].time + 0.1) << "beat " << i;
        }
    }
    // A steady, clear piece: once settled, the beats are the music's.
    EXPECT_GE(placed(heard, p.beats, 8, p.seconds()), 0.9);
}

TEST_F(ListenFile, NoBeatBeforeTheMusicStarts) {
    corpus::PieceOptions o = options(12, 126);
    o.firstBeat = 4.1; // four seconds of noise first
    o.snrDb = 25;
    const Outcome r = listen(piece(corpus::generate(o), "late.wav"));
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<Beat> heard = beats(r);
    ASSERT_FALSE(heard.empty());
    EXPECT_GT(heard.front().time, 4.1 - 0.1);
}

TEST_F(ListenFile, WritesTheSameInEveryLocale) {
    const fs::path song = piece(corpus::generate(options(13, 97)), "song.wav");
    const Outcome plain = listen(song);
    const Outcome german = run({"--listen", song.string()}, {"LC_ALL=de_DE.UTF-8"});
    ASSERT_EQ(plain.status, 0);
    ASSERT_EQ(german.status, 0);
    EXPECT_FALSE(plain.out.empty());
    EXPECT_EQ(german.out, plain.out);
}

TEST_F(ListenFile, HearsFlacAndStereoAsTheSameMusic) {
    const corpus::Piece p = corpus::generate(options(14, 133, 16));
    const Outcome wav = listen(piece(p, "mono.wav"));
    ASSERT_EQ(wav.status, 0);
    ASSERT_FALSE(wav.out.empty());
    // Lossless: the very same samples.
    EXPECT_EQ(listen(piece(p, "mono.flac", corpus::Format::flac)).out, wav.out);
    // Two equal channels mix to the one.
    const Outcome mono = listen(piece(p, "mono-float.wav", corpus::Format::wavFloat, 1));
    const Outcome stereo = listen(piece(p, "stereo-float.wav", corpus::Format::wavFloat, 2));
    ASSERT_EQ(stereo.status, 0) << stereo.err;
    EXPECT_EQ(stereo.out, mono.out);
}

TEST_F(ListenFile, HearsTheBeatAtEveryRate) {
    for (const double rate : {22050.0, 44100.0, 96000.0}) {
        SCOPED_TRACE(rate);
        corpus::PieceOptions o = options(20, 131, 16);
        o.sampleRate = rate;
        const corpus::Piece p = corpus::generate(o);
        const std::vector<Beat> heard =
            beats(listen(piece(p, "rate.wav"), taps("taps.txt", strikesOn(p, {1, 2}))));
        EXPECT_GE(found(heard, p.beats, 6, p.seconds()), 0.9);
        EXPECT_GE(placed(heard, p.beats, 6, p.seconds()), 0.9);
    }
}

TEST_F(ListenFile, SameFileSameBeats) {
    const fs::path song = piece(corpus::generate(options(15, 150)), "song.wav");
    const Outcome first = listen(song), second = listen(song);
    EXPECT_FALSE(first.out.empty());
    EXPECT_EQ(second.out, first.out);
}

// What is refused: one line on stderr, nothing on stdout.

void expectRefused(const Outcome& r, int status, const std::string& said) {
    EXPECT_EQ(r.status, status);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_EQ(r.err.rfind("tempo-calculator: ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find(said), std::string::npos) << r.err;
}

TEST_F(ListenFile, RefusesAMissingFile) {
    expectRefused(listen(file("nowhere.wav")), 1, "nowhere.wav: no such file");
}

TEST_F(ListenFile, RefusesATextFile) {
    expectRefused(listen(text("notes.wav", "This is not music.\n")), 1, "notes.wav: ");
}

TEST_F(ListenFile, RefusesAFileWithoutAudio) {
    corpus::Piece empty = corpus::generate(options(16, 120, 1));
    empty.samples.clear();
    expectRefused(listen(piece(empty, "empty.wav")), 1, "empty.wav: no audio in it");
}

TEST_F(ListenFile, RefusesBadTaps) {
    const fs::path song = piece(corpus::generate(options(17, 120, 6)), "song.wav");
    const struct {
        const char* content;
        const char* said;
    } cases[] = {
        {"1.0\nsoon\n", "line 2: \"soon\" is not a time"},
        {"1,5\n", "line 1: \"1,5\" is not a time"},
        {"2.0\n1.5\n", "line 2: the times must increase"},
        {"1.0\n1.0\n", "line 2: the times must increase"},
        {"-0.5\n", "line 1: a time before the file's start"},
        {"1.0 2.0\n", "line 1: \"1.0 2.0\" is not a time"},
        {"inf\n", "line 1: \"inf\" is not a time"},
        // A binary file given by mistake: control characters (C0, DEL, C1) and bytes that
        // are not UTF-8 shown, not sent to the terminal; 40 bytes of a long line at most,
        // never half a character.
        {"1\x1b[2J\x7f\n", "line 1: \"1\\x1b[2J\\x7f\" is not a time"},
        {"1\xc2\x9b\xff\xc3\n", "line 1: \"1\\xc2\\x9b\\xff\\xc3\" is not a time"},
        {"1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20\n",
         "line 1: \"1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 1...\" is not a time"},
        {"x½½½½½½½½½½½½½½½½½½½½½\n", "\"x½½½½½½½½½½½½½½½½½½½...\""},
        {"\x80\x80\x80\x80\x80\x80\x80\x80\x80\x80\x80\x80\x80\x80\x80\x80\x80\x80\x80\x80\x80"
         "\x80\x80\x80\x80\x80\x80\x80\x80\x80\x80\x80\x80\x80\x80\x80\x80\x80\x80\x80\x80\x80\n",
         "\\x80\\x80...\" is not a time"},
        {"", "holds no taps"},
        {"\n  \n", "holds no taps"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.content);
        expectRefused(listen(song, text("taps.txt", c.content)), 1, c.said);
    }
    expectRefused(listen(song, file("no-taps.txt")), 1, "no-taps.txt: No such file");
    // A name with a line end in it is one line all the same.
    expectRefused(listen(song, text("two\nlines.txt", "soon\n")), 1,
                  "two\\x0alines.txt, line 1: \"soon\"");
}

TEST_F(ListenFile, TakesTapsWithBlankLinesAndWindowsEnds) {
    const corpus::Piece p = corpus::generate(options(18, 120, 8));
    const fs::path song = piece(p, "song.wav");
    const Outcome unix = listen(song, text("unix.txt", "1.3\n\n1.8\n"));
    const Outcome windows = listen(song, text("windows.txt", " 1.3\r\n\r\n1.8\t\r\n"));
    // As Notepad saves it: a byte order mark first.
    const Outcome marked = listen(song, text("marked.txt", "\xef\xbb\xbf"
                                                           "1.3\r\n1.8\r\n"));
    ASSERT_EQ(unix.status, 0) << unix.err;
    EXPECT_FALSE(unix.out.empty());
    EXPECT_EQ(windows.out, unix.out);
    EXPECT_EQ(marked.out, unix.out) << marked.err;
}

TEST_F(ListenFile, RefusesOptionsItDoesNotKnow) {
    const fs::path song = piece(corpus::generate(options(19, 120, 4)), "song.wav");
    expectRefused(run({"--listen"}), 2, "--listen needs a file");
    expectRefused(run({"--listen", song.string(), "--taps"}), 2, "--taps needs a file");
    expectRefused(run({"--listen="}), 2, "--listen needs a file");
    expectRefused(run({"--listen", song.string(), "--taps="}), 2, "--taps needs a file");
    // Taps alone would otherwise open the window and be ignored there.
    expectRefused(run({"--taps", song.string()}), 2, "--taps goes with --listen FILE");
    expectRefused(run({"--listen", song.string(), "--bpm", "120"}), 2, "not --bpm");
    expectRefused(run({"--listen", song.string(), "--listen", song.string()}), 2, "given twice");
    // A taps file named like the option: no file to listen to, said so.
    expectRefused(run({"--taps", "--listen"}), 2, "--taps goes with --listen FILE");
    // --listen=FILE as Qt's parser takes it, not the window.
    const Outcome joined = run({"--listen=" + song.string()});
    EXPECT_EQ(joined.status, 0) << joined.err;
    EXPECT_EQ(joined.out, listen(song).out);
}

TEST_F(ListenFile, SaysSoWhenItCannotWriteTheBeats) {
    const fs::path song = piece(corpus::generate(options(20, 120, 6)), "song.wav");
    const Outcome full = run({"--listen", song.string()}, {}, "/dev/full");
    EXPECT_EQ(full.status, 1);
    EXPECT_NE(full.err.find("cannot write the beats"), std::string::npos) << full.err;
}

TEST_F(ListenFile, HelpNamesBothOptionsAlsoAfterThem) {
    const std::vector<std::string> asked[] = {
        {"--help"}, {"--listen", "song.wav", "--help"}, {"--listen=song.wav", "-h"}};
    for (const auto& arguments : asked) {
        SCOPED_TRACE(arguments.back());
        const Outcome r = run(arguments);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.out.find("--listen <FILE>"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("--taps <FILE>"), std::string::npos) << r.out;
    }
}

// The real tracker, end to end.

TEST_F(ListenFile, TwoStrikesSettleTheOctaveThroughAHalfTimeSection) {
    corpus::PieceOptions o = options(21, 104, 36);
    o.halfTimeAt = 12;
    o.halfTimeBars = 4;
    const corpus::Piece p = corpus::generate(o);
    ASSERT_GT(p.halfTimeStart, 0);
    const fs::path song = piece(p, "song.wav");

    // Struck on the beat: the music's own tempo, held through the half time.
    const std::vector<double> onBeat = strikesOn(p, {1, 2});
    const std::vector<Beat> heard = beats(listen(song, taps("beat.txt", onBeat)));
    ASSERT_FALSE(heard.empty());
    for (const Beat& b : heard) {
        if (b.time > onBeat.back() + 1) {
            EXPECT_NEAR(b.bpm, 104, 104 * 0.04) << "at " << b.time;
        }
    }
    EXPECT_GE(found(heard, p.beats, p.halfTimeStart, p.halfTimeEnd), 0.9);
    EXPECT_GE(placed(heard, p.beats, p.halfTimeStart, p.halfTimeEnd), 0.9);

    // Struck every other beat: the player's word is half the tempo, and it stays so.
    const std::vector<double> everyOther = strikesOn(p, {1, 3});
    const std::vector<Beat> half = beats(listen(song, taps("half.txt", everyOther)));
    ASSERT_FALSE(half.empty());
    for (const Beat& b : half) {
        if (b.time > everyOther.back() + 1) {
            EXPECT_NEAR(b.bpm, 52, 52 * 0.04) << "at " << b.time;
        }
    }
}

TEST_F(ListenFile, ReLocksAfterAHeldChange) {
    for (const double ratio : {1.1, 0.9}) {
        SCOPED_TRACE(ratio);
        corpus::PieceOptions o = options(22, 118, 34);
        o.changeAt = 16;
        o.changeRatio = ratio;
        o.swing = ratio < 1;
        const corpus::Piece p = corpus::generate(o);
        ASSERT_GT(p.changeTime, 0);
        const std::vector<Beat> heard =
            beats(listen(piece(p, "change.wav"), taps("taps.txt", strikesOn(p, {1, 2}))));
        const double settled = p.changeTime + 4;
        EXPECT_GE(found(heard, p.beats, settled, p.seconds()), 0.9);
        EXPECT_GE(placed(heard, p.beats, settled, p.seconds()), 0.9);
        for (const Beat& b : heard) {
            if (b.time >= settled) {
                EXPECT_NEAR(b.bpm, 118 * ratio, 118 * ratio * 0.04) << "at " << b.time;
            }
        }
    }
}

TEST_F(ListenFile, HoldsThroughSilenceAndPicksUpWithoutAJump) {
    corpus::PieceOptions o = options(23, 128, 34);
    o.silenceAt = 14;
    o.silenceBeats = 8;
    const corpus::Piece p = corpus::generate(o);
    ASSERT_GT(p.silenceStart, 0);
    const std::vector<Beat> heard =
        beats(listen(piece(p, "gap.wav"), taps("taps.txt", strikesOn(p, {1, 2}))));
    // The grid goes on through the silence, on the music's beats.
    EXPECT_GE(found(heard, p.beats, p.silenceStart, p.silenceEnd), 0.9);
    EXPECT_GE(placed(heard, p.beats, p.silenceStart, p.silenceEnd), 0.9);
    // And from before the silence to the end, no beat jumps: every interval a beat's.
    const double period = 60.0 / 128;
    for (std::size_t i = 1; i < heard.size(); ++i) {
        if (heard[i - 1].time >= p.silenceStart - 4) {
            EXPECT_NEAR(heard[i].time - heard[i - 1].time, period, period * 0.1)
                << "from " << heard[i - 1].time;
            EXPECT_NEAR(heard[i].bpm, 128, 128 * 0.04) << "at " << heard[i].time;
        }
    }
    EXPECT_GE(found(heard, p.beats, p.silenceEnd, p.seconds()), 0.9);
}

} // namespace
} // namespace tempocalc
