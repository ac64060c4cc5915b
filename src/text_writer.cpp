#include "text_writer.hpp"

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

text_writer::text_writer(text_sink& out, std::size_t capacity)
    : out_(out),
      capacity_(capacity),
      slots_(out.background_writes() ? ring_size : 1),
      memory_(std::make_unique_for_overwrite<char[]>(capacity * slots_)) {}

text_writer::~text_writer() { stop(); }

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

void text_writer::hand_off(std::size_t n) {
    if (slots_ == 1) {
        out_.write(buffer(), n);
        return;
    }
    if (!thread_.joinable()) thread_ = std::thread([this] { write_in_background(); });
    const std::size_t filled = filled_.load(std::memory_order_relaxed);
    sizes_[filled % slots_] = n;
    filled_.store(filled + 1);
    wake();
    // The next buffer must not be one that is still waiting to be written.
    wait_until([&] { return filled + 1 - written_.load() < slots_ || failed_.load(); });
    rethrow_failure();
}

void text_writer::finish(std::size_t n) {
    if (!thread_.joinable()) {
        out_.write(buffer(), n);
        return;
    }
    hand_off(n);
    const std::size_t filled = filled_.load(std::memory_order_relaxed);
    wait_until([&] { return written_.load() == filled || failed_.load(); });
    stop();
    rethrow_failure();
}

void text_writer::write_in_background() {
    for (std::size_t k = 0;; ++k) {
        wait_until([&] { return filled_.load() > k || stopping_.load(); });
        if (stopping_.load()) return;
        try {
            out_.write(slot(k), sizes_[k % slots_]);
        } catch (...) {
            error_ = std::current_exception();
            failed_.store(true, std::memory_order_release);
            wake();
            return;
        }
        written_.store(k + 1);
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
