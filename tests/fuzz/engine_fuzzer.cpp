// Random sequences of strikes, note toggles and initializes, and arbitrary numbers
// for both renderings; every strike goes to the fitted line too. Each operation is checked, not
// just run: only the engine's own errors escape, a refused reading changes nothing, the strike
// count only grows (but for initialize), and every text reads back as the value rounded to three
// decimals.

#include "fuzz_input.h"
#include "number_text.h"
#include "tempo_engine.h"
#include "tempo_fit.h"

#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

using namespace tempocalc;
using tempocalc::fuzz::Input;

namespace {

[[noreturn]] void fail(const char* what, const std::string& detail = {}) {
    std::fprintf(stderr, "engine_fuzzer: %s %s\n", what, detail.c_str());
    std::abort();
}

void check(bool condition, const char* what, const std::string& detail = {}) {
    if (!condition) {
        fail(what, detail);
    }
}

// x rounded to three decimals, halves away from zero, worked out on x's full
// decimal expansion (which is exact for every double), then read back.
double roundedByExpansion(double x) {
    // A sign, 309 integer digits, the point and 1100 decimals: more than the 1074 of the
    // smallest subnormal.
    static char buffer[1 + 309 + 1 + 1100];
    const auto end =
        std::to_chars(buffer, buffer + sizeof buffer, x, std::chars_format::fixed, 1100).ptr;
    const std::string_view all(buffer, static_cast<std::size_t>(end - buffer));
    const std::size_t point = all.find('.');
    std::string kept(all.substr(0, point + 4));
    const std::string_view rest = all.substr(point + 4);
    const bool up = rest[0] >= '5';
    if (up) {
        // Add one thousandth to the magnitude, carrying leftwards.
        std::size_t i = kept.size();
        while (i-- > 0) {
            if (kept[i] == '.' || kept[i] == '-') {
                continue;
            }
            if (kept[i] != '9') {
                ++kept[i];
                break;
            }
            kept[i] = '0';
        }
        if (i == static_cast<std::size_t>(-1)) {
            kept.insert(kept[0] == '-' ? 1 : 0, 1, '1');
        }
    }
    double value = 0;
    std::from_chars(kept.data(), kept.data() + kept.size(), value);
    return value == 0 ? 0.0 : value; // no negative zero
}

double readBack(std::string_view text, std::string_view separator) {
    std::string plain(text);
    if (const auto at = plain.find(separator); at != std::string::npos) {
        plain.replace(at, separator.size(), ".");
    }
    const std::string_view digits = std::string_view(plain).substr(plain[0] == ' ' ? 1 : 0);
    double value = 0;
    const auto result = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    check(result.ec == std::errc() && result.ptr == digits.data() + digits.size(),
          "a text that does not read back as a number:", std::string(text));
    return value;
}

void checkRenderings(double x, std::string_view separator) {
    try {
        const std::string average = average_text(x, separator);
        const std::string tempo = tempo_text(x);
        check(std::isfinite(x), "rendered a value that is not finite");
        const double expected = roundedByExpansion(x);
        check(readBack(average, separator) == expected, "average text",
              average + " for " + exact_text(x));
        check(readBack(tempo, ".") == expected, "tempo text", tempo + " for " + exact_text(x));
        check(tempo[0] == ' ' || tempo[0] == '-', "tempo text without its sign column", tempo);
        check(average.ends_with(separator) || average.back() != '0', "trailing zero", average);
    } catch (const std::invalid_argument&) {
        check(!std::isfinite(x) || separator.empty(), "refused a finite number", exact_text(x));
    }
}

constexpr std::string_view separators[] = {".", ",", "\xD9\xAB", "", " "};

void checkStrike(TempoState& state, double reading, std::string_view separator) {
    const TempoState before = state;
    Shown shown;
    try {
        strike(state, reading, shown, separator);
        check(state.tapcount == before.tapcount + 1, "a strike that did not count");
        check(shown.text1 && shown.text2 && !shown.text3, "a strike that did not show both texts");
        check(*shown.text2 == tempo_text(state.curtempo), "the tempo shown is not the tempo kept");
    } catch (const std::invalid_argument&) {
        check(state == before, "a refused reading changed the state", exact_text(reading));
        check(!shown.text1 && !shown.text2 && !shown.text3, "a refused reading showed something");
    } catch (const RunTimeError& e) {
        check(e.number() == 6 || e.number() == 11, "run-time error", std::to_string(e.number()));
        check(state.tapcount == before.tapcount, "a failed strike counted");
        check(!shown.text3, "a strike showed a note value");
    }
    check(state.tapcount >= before.tapcount, "the strike count went down");
    for (const double field : {state.interval, state.prevtime, state.curtime, state.curtempo,
                               state.divisor, state.tempototal, state.avetempo}) {
        check(std::isfinite(field), "a field that is not finite");
    }
}

// The fitted line: a refused strike changes nothing, and it never holds more strikes
// than it was given, a tempo that is not positive, a value that is not finite or a beat
// without a tempo.
void checkFit(TempoFit& fit, double reading, std::int16_t notemode, std::int64_t& added) {
    const std::int32_t strikes = fit.strikes();
    const std::optional<double> tempo = fit.tempo();
    try {
        fit.add(reading, notemode);
        ++added;
    } catch (const std::invalid_argument&) {
        check(!(reading >= 0 && reading <= seconds_per_day) || notemode < 0 || notemode > 2,
              "the fit refused a good strike", exact_text(reading));
        check(fit.strikes() == strikes && fit.tempo() == tempo, "a refused strike changed the fit");
    }
    check(fit.strikes() >= 0 && fit.strikes() <= added, "the fit holds strikes it was not given");
    if (const std::optional<double> t = fit.tempo()) {
        check(std::isfinite(*t) && *t > 0, "a fitted tempo", exact_text(*t));
    }
    if (const std::optional<double> se = fit.standard_error()) {
        check(std::isfinite(*se) && *se >= 0, "a fitted standard error", exact_text(*se));
    }
    if (const std::optional<double> beat = fit.beat()) {
        check(std::isfinite(*beat) && fit.tempo(), "a fitted beat", exact_text(*beat));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input input(data, size);
    TempoState state;
    TempoFit fit;
    std::int64_t fitted = 0;
    double clock = 0;
    const auto strikeBoth = [&](double reading, std::string_view separator) {
        checkStrike(state, reading, separator);
        // Now and then a note value that is none.
        const std::uint8_t odd = input.byte();
        checkFit(fit, reading, odd < 8 ? static_cast<std::int16_t>(odd % 5 - 1) : state.notemode,
                 fitted);
    };
    while (!input.empty()) {
        const std::uint8_t op = input.byte();
        const std::string_view separator = separators[(op >> 4) % std::size(separators)];
        try {
            switch (op % 8) {
            case 0: // any double at all
                strikeBoth(input.number(), separator);
                break;
            case 1: // a plausible tap: a little later than the last one, wrapping at midnight
            case 2:
                clock = std::fmod(clock + input.byte() / 64.0, seconds_per_day);
                strikeBoth(clock, separator);
                break;
            case 3: { // the same reading again, or one just before or after it
                const double near[] = {state.curtime, std::nextafter(state.curtime, 0.0),
                                       std::nextafter(state.curtime, seconds_per_day)};
                strikeBoth(near[input.byte() % 3], separator);
                break;
            }
            case 4: {
                const std::int16_t before = state.notemode;
                Shown shown;
                notetoggle(state, shown);
                check(state.notemode == (before + 1) % 3, "note toggle out of its cycle");
                check(shown.text3 == note_texts[static_cast<std::size_t>(state.notemode)],
                      "note toggle text");
                break;
            }
            case 5: {
                Shown shown;
                initialize(state, shown);
                check(state == TempoState{}, "initialize left something");
                fit.reset();
                fitted = 0;
                break;
            }
            default:
                checkRenderings(input.number(), separator);
                break;
            }
        } catch (const std::exception& e) {
            fail("an error escaped:", e.what());
        }
    }
    return 0;
}
