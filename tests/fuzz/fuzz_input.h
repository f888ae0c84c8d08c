#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace tempocalc::fuzz {

// A fuzzer's input read as a stream of bytes; once it runs out, zeros.
class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool empty() const { return size_ == 0; }
    std::uint8_t byte() {
        if (size_ == 0) {
            return 0;
        }
        --size_;
        return *data_++;
    }
    // Any double at all: eight bytes' bits.
    double number() {
        std::uint64_t bits = 0;
        for (int i = 0; i < 8; ++i) {
            bits = bits << 8 | byte();
        }
        double value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
};

} // namespace tempocalc::fuzz
