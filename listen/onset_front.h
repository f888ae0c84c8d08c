#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace tempocalc {

// The signal front end of listening: mono audio in, onset strength out, one pair of
// values a hop, from aubio's phase vocoder and spectral descriptions.
class OnsetFront {
public:
    struct Hop {
        std::int64_t sample;  // the stream's sample at the hop's centre, counted from its first
        double complexDomain; // complex-domain novelty, >= 0
        double energy;        // energy novelty, >= 0
    };

    explicit OnsetFront(double sampleRate);
    ~OnsetFront();
    OnsetFront(const OnsetFront&) = delete;
    OnsetFront& operator=(const OnsetFront&) = delete;

    double sampleRate() const;
    std::size_t hopSize() const;
    // Feeds samples of the stream, in order; appends a Hop for each hop completed.
    void push(const float* samples, std::size_t count, std::vector<Hop>& out);
    void reset();

private:
    struct Aubio;
    std::unique_ptr<Aubio> aubio_;
};

} // namespace tempocalc
