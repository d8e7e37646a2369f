// A lock-free ring between one producer thread and one consumer thread: fixed storage allocated
// at construction, so that pushing from the audio callback never allocates, locks or waits.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <type_traits>

namespace varko {

template <typename T> class TSpscRing {
    static_assert(std::is_trivially_copyable_v<T>, "the ring copies its items bytewise");

public:
    // Room for at least `capacity` items (rounded up to a power of two, at least 2).
    explicit TSpscRing(size_t capacity) {
        size_t n = 2;
        while (n < capacity) {
            n *= 2;
        }
        mask_ = n - 1;
        items_ = std::make_unique<T[]>(n);
    }
    TSpscRing(const TSpscRing&) = delete;
    TSpscRing& operator=(const TSpscRing&) = delete;

    size_t Capacity() const { return mask_ + 1; }

    // Producer: items the ring can take now.
    size_t Free() const {
        return Capacity() -
               (head_.load(std::memory_order_relaxed) - tail_.load(std::memory_order_acquire));
    }
    // Consumer: items waiting.
    size_t Size() const {
        return head_.load(std::memory_order_acquire) - tail_.load(std::memory_order_relaxed);
    }

    // Producer: all n items, or none when they do not fit.
    bool Push(const T* items, size_t n) {
        return PushGenerated(n, [items](size_t i) { return items[i]; });
    }
    bool Push(const T& item) { return Push(&item, 1); }
    // Producer: n items made by item(i) in place, or none when they do not fit.
    template <typename F> bool PushGenerated(size_t n, F&& item) {
        const size_t head = head_.load(std::memory_order_relaxed);
        if (Capacity() - (head - tail_.load(std::memory_order_acquire)) < n) {
            return false;
        }
        for (size_t i = 0; i < n; ++i) {
            items_[(head + i) & mask_] = item(i);
        }
        head_.store(head + n, std::memory_order_release);
        return true;
    }

    // Consumer: up to n items into out; returns how many.
    size_t Pop(T* out, size_t n) {
        const size_t tail = tail_.load(std::memory_order_relaxed);
        const size_t available = head_.load(std::memory_order_acquire) - tail;
        const size_t m = n < available ? n : available;
        for (size_t i = 0; i < m; ++i) {
            out[i] = items_[(tail + i) & mask_];
        }
        tail_.store(tail + m, std::memory_order_release);
        return m;
    }
    bool Pop(T& item) { return Pop(&item, 1) == 1; }

private:
    // Producer and consumer indices on lines of their own, so that neither side's writes slow
    // the other's reads.
    alignas(64) std::atomic<size_t> head_{0};
    alignas(64) std::atomic<size_t> tail_{0};
    alignas(64) size_t mask_ = 1;
    std::unique_ptr<T[]> items_;
};

} // namespace varko
