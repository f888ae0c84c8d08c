#include "onset_front.h"

#include <aubio/aubio.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace tempocalc {

namespace {

// About 11 ms a hop at any rate (512 samples at 44.1 and 48 kHz), a window of two hops:
// fine enough for the phase, coarse enough to cost little.
std::size_t hopFor(double sampleRate) {
    std::size_t hop = 64;
    while (hop < 8192 && static_cast<double>(hop) * 1.5 < sampleRate * 0.0107) {
        hop *= 2;
    }
    return hop;
}

} // namespace

struct OnsetFront::Aubio {
    double rate;
    std::size_t hop, window;
    fvec_t* in = nullptr;
    cvec_t* spectrum = nullptr;
    fvec_t* value = nullptr;
    aubio_pvoc_t* pvoc = nullptr;
    aubio_specdesc_t* complexDomain = nullptr;
    aubio_specdesc_t* energy = nullptr;
    std::size_t filled = 0;  // samples of the current hop gathered in `in`
    std::int64_t hops = 0;   // hops analysed since the start or the last reset
    double lastLoudness = 0; // the previous frame's spectral magnitude (root of its energy)

    Aubio(double sampleRate) : rate(sampleRate), hop(hopFor(sampleRate)), window(2 * hop) {
        const auto h = static_cast<uint_t>(hop), w = static_cast<uint_t>(window);
        in = new_fvec(h);
        spectrum = new_cvec(w);
        value = new_fvec(1);
        open();
        if (!in || !spectrum || !value || !pvoc || !complexDomain || !energy) {
            close();
            del();
            throw std::runtime_error("aubio could not set up its phase vocoder");
        }
    }
    ~Aubio() {
        close();
        del();
    }
    Aubio(const Aubio&) = delete;
    Aubio& operator=(const Aubio&) = delete;

    // aubio keeps the previous frames inside these; a reset makes them anew.
    void open() {
        const auto h = static_cast<uint_t>(hop), w = static_cast<uint_t>(window);
        pvoc = new_aubio_pvoc(w, h);
        complexDomain = new_aubio_specdesc(const_cast<char_t*>("complex"), w);
        energy = new_aubio_specdesc(const_cast<char_t*>("energy"), w);
        filled = 0;
        hops = 0;
        lastLoudness = 0;
    }
    void close() {
        if (pvoc) {
            del_aubio_pvoc(pvoc);
        }
        if (complexDomain) {
            del_aubio_specdesc(complexDomain);
        }
        if (energy) {
            del_aubio_specdesc(energy);
        }
        pvoc = nullptr;
        complexDomain = energy = nullptr;
    }
    void del() {
        if (in) {
            del_fvec(in);
        }
        if (spectrum) {
            del_cvec(spectrum);
        }
        if (value) {
            del_fvec(value);
        }
    }

    void analyse(std::vector<Hop>& out) {
        aubio_pvoc_do(pvoc, in, spectrum);
        // Both in the signal's own units, whatever the window's size: a louder mix scales
        // both alike.
        const double scale = 1.0 / static_cast<double>(window);
        aubio_specdesc_do(complexDomain, spectrum, value);
        const double cd = std::max(0.0, static_cast<double>(value->data[0])) * scale;
        aubio_specdesc_do(energy, spectrum, value);
        const double loudness = std::sqrt(std::max(0.0, static_cast<double>(value->data[0])));
        const double rise = std::max(0.0, loudness - lastLoudness) * scale;
        lastLoudness = loudness;
        const std::int64_t k = hops++;
        // The first frame is compared with the silence before the stream: a start in
        // the middle of the music is no onset.
        if (k == 0) {
            return;
        }
        // Frame k's window is centred on sample k * hop; its novelty is its change from
        // frame k - 1, so it is stamped half a hop before.
        const auto h = static_cast<std::int64_t>(hop);
        out.push_back({k * h - h / 2, cd, rise});
    }
};

OnsetFront::OnsetFront(double sampleRate) {
    if (!(sampleRate >= 1000 && sampleRate <= 1e6)) {
        throw std::invalid_argument("OnsetFront: sample rate out of range");
    }
    aubio_ = std::make_unique<Aubio>(sampleRate);
}

OnsetFront::~OnsetFront() = default;

double OnsetFront::sampleRate() const {
    return aubio_->rate;
}

std::size_t OnsetFront::hopSize() const {
    return aubio_->hop;
}

void OnsetFront::push(const float* samples, std::size_t count, std::vector<Hop>& out) {
    Aubio& a = *aubio_;
    while (count > 0) {
        const std::size_t n = std::min(count, a.hop - a.filled);
        for (std::size_t i = 0; i < n; ++i) {
            const float s = samples[i];
            // A NaN or an infinity would poison aubio's state for good.
            a.in->data[a.filled + i] = std::isfinite(s) ? static_cast<smpl_t>(s) : smpl_t(0);
        }
        a.filled += n;
        samples += n;
        count -= n;
        if (a.filled == a.hop) {
            a.filled = 0;
            a.analyse(out);
        }
    }
}

void OnsetFront::reset() {
    aubio_->close();
    aubio_->open();
    if (!aubio_->pvoc || !aubio_->complexDomain || !aubio_->energy) {
        throw std::runtime_error("aubio could not set up its phase vocoder");
    }
}

} // namespace tempocalc
