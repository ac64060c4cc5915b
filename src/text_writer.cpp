#include "text_writer.hpp"

#include <algorithm>
#include <chrono>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace z80db::detail {
namespace {

void cpu_relax() {
#if defined(__x86_64__) || defined(__i386__)
    _mm_pause();
#endif
}

// How long a thread spins before it sleeps. The other thread is usually a few
// microseconds from done, and on virtual machines waking a sleeping thread on
// another processor costs far more than that.
constexpr auto spin_time = std::chrono::microseconds(50);

}  // namespace

text_writer::text_writer(text_sink& out, std::size_t size)
    : out_(out),
      size_(size),
      memory_(std::make_unique_for_overwrite<char[]>(size)),
      background_(out.background_writes()) {
    for (auto& end : lap_end_) end.store(size);
}

text_writer::~text_writer() {
    stop();
}

template <class Ready>
void text_writer::wait_until(Ready ready) {
    const auto deadline = std::chrono::steady_clock::now() + spin_time;
    for (unsigned i = 1;; ++i) {
        if (ready()) return;
        cpu_relax();
        if (i % 64 == 0 && std::chrono::steady_clock::now() > deadline) break;
    }
    std::unique_lock lock(mutex_);
    sleepers_.fetch_add(1);
    changed_.wait(lock, ready);
    sleepers_.fetch_sub(1);
}

// Called after a change of state. A sleeper counts itself before it looks at the
// state a last time, so either it sees the change or it is seen here and woken.
void text_writer::wake() {
    if (sleepers_.load() == 0) return;
    const std::lock_guard lock(mutex_);
    changed_.notify_all();
}

void text_writer::rethrow_failure() {
    if (failed_.load(std::memory_order_acquire)) std::rethrow_exception(error_);
}

char* text_writer::room(std::size_t n) {
    std::size_t head = head_.load(std::memory_order_relaxed);
    std::size_t offset = head % size_;
    if (!thread_.joinable()) {
        if (head + n <= size_) return at(head);
        // Full: write it all here, or start writing from now on in the background.
        if (!background_) {
            out_.write(memory_.get(), head);
            head_.store(0);
            return memory_.get();
        }
        thread_ = std::thread([this] { write_in_background(); });
    }
    if (size_ - offset < n) {
        // Too little room before the end of the ring: this lap's text stops here,
        // and the next begins at the start of the ring.
        lap_end_[head / size_ % 2].store(offset);
        head += size_ - offset;
        head_.store(head);
        offset = 0;
        wake();
    }
    wait_until([&] { return head + n - tail_.load() <= size_ || failed_.load(); });
    rethrow_failure();
    // The lap begun here ends with the ring unless it is cut short.
    if (offset == 0) lap_end_[head / size_ % 2].store(size_);
    return at(head);
}

void text_writer::commit(std::size_t n) {
    head_.store(head_.load(std::memory_order_relaxed) + n);
    if (thread_.joinable()) wake();
}

void text_writer::finish() {
    const std::size_t head = head_.load(std::memory_order_relaxed);
    if (!thread_.joinable()) {
        out_.write(memory_.get(), head);
        return;
    }
    wait_until([&] { return tail_.load() == head || failed_.load(); });
    stop();
    rethrow_failure();
}

void text_writer::write_in_background() {
    std::size_t tail = 0;
    for (;;) {
        wait_until([&] { return head_.load() > tail || stopping_.load(); });
        if (stopping_.load()) return;
        // All the text that is ready, up to the end of this lap.
        const std::size_t head = head_.load();
        const std::size_t lap_start = tail - tail % size_;
        const std::size_t lap_end =
            head >= lap_start + size_ ? lap_start + lap_end_[tail / size_ % 2].load() : head;
        const std::size_t end = std::min(head, lap_end);
        if (end > tail) {
            try {
                out_.write(at(tail), end - tail);
            } catch (...) {
                error_ = std::current_exception();
                failed_.store(true, std::memory_order_release);
                wake();
                return;
            }
        }
        // At the end of a lap's text, skip what the ring left unused.
        tail = end == lap_end && head >= lap_start + size_ ? lap_start + size_ : end;
        tail_.store(tail);
        wake();
    }
}

void text_writer::stop() {
    if (!thread_.joinable()) return;
    stopping_.store(true);
    wake();
    thread_.join();
}

}  // namespace z80db::detail
