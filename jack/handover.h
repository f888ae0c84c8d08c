#pragma once

#include <array>
#include <atomic>
#include <cstddef>

namespace tempocalc {

// Hands a value from one thread to another, wait-free on both sides: three slots, of
// which the writer owns one and the reader one at any time, and the third waits in the
// middle. The writer fills its own slot and swaps it into the middle; the reader, when
// the middle holds a newer value than its own, swaps its slot for it. A slot changes
// hands only through the exchange on middle_, which is acquire-release: everything the
// writer wrote into the slot happens before the reader reads it, and the reader is done
// with its old slot before the writer can get it back. Neither side ever waits for the
// other or retries, so the real-time reader cannot be held up by a writer that the
// scheduler put aside halfway (as it could spin on a sequence lock).
template <class T> class TripleBuffer {
public:
    T& back() { return slots_[back_]; } // the writer's
    void publish() { back_ = middle_.exchange(back_ | fresh, std::memory_order_acq_rel) & index; }

    const T& read() { // the reader's
        if (middle_.load(std::memory_order_relaxed) & fresh) {
            front_ = middle_.exchange(front_, std::memory_order_acq_rel) & index;
        }
        return slots_[front_];
    }

private:
    static constexpr unsigned fresh = 4, index = 3;
    std::array<T, 3> slots_{};
    unsigned back_ = 0;
    std::atomic<unsigned> middle_{1};
    unsigned front_ = 2;
};

// One producer (the process callback), one consumer (this object's thread), a fixed
// ring: no lock, no allocation. When it is full, the newest event is dropped.
template <class T, std::size_t N> class SpscQueue {
    static_assert((N & (N - 1)) == 0);

public:
    bool push(const T& item) {
        const std::size_t head = head_.load(std::memory_order_relaxed);
        if (head - tail_.load(std::memory_order_acquire) == N) {
            return false;
        }
        items_[head % N] = item;
        head_.store(head + 1, std::memory_order_release);
        return true;
    }
    bool pop(T& item) {
        const std::size_t tail = tail_.load(std::memory_order_relaxed);
        if (tail == head_.load(std::memory_order_acquire)) {
            return false;
        }
        item = items_[tail % N];
        tail_.store(tail + 1, std::memory_order_release);
        return true;
    }

private:
    std::array<T, N> items_{};
    std::atomic<std::size_t> head_{0}, tail_{0};
};

} // namespace tempocalc
