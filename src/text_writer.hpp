// Hands buffers of listing text to a sink, from a second thread when the sink
// allows it, so that the caller formats the next buffer while one is written.
#ifndef Z80DB_TEXT_WRITER_HPP
#define Z80DB_TEXT_WRITER_HPP

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>

#include "z80db/listing.hpp"

namespace z80db::detail {

class text_writer {
public:
    // Buffers of the given capacity: a ring of them when out takes background
    // writes, else one. The writing thread starts only with the second buffer, so
    // that a text that fits in one costs no thread.
    text_writer(text_sink& out, std::size_t capacity);
    text_writer(const text_writer&) = delete;
    text_writer& operator=(const text_writer&) = delete;
    // Abandons what is not written yet; after a failure, that is all there is to do.
    ~text_writer();

    std::size_t capacity() const { return capacity_; }

    // The buffer to fill now.
    char* buffer() const { return slot(filled_.load(std::memory_order_relaxed)); }

    // The first n bytes of the buffer are text to write; buffer() then gives the
    // next one. Throws what the sink threw for an earlier buffer.
    void hand_off(std::size_t n);

    // Writes the last n bytes and returns once everything is written.
    void finish(std::size_t n);

private:
public:
    static constexpr std::size_t ring_size = 3;

private:

    char* slot(std::size_t k) const { return memory_.get() + (k % slots_) * capacity_; }
    void write_in_background();
    template <class Ready>
    void wait_until(Ready ready);
    void wake();
    void rethrow_failure();
    void stop();

    text_sink& out_;
    const std::size_t capacity_;
    const std::size_t slots_;
    const std::unique_ptr<char[]> memory_;
    std::array<std::size_t, ring_size> sizes_{};

    std::atomic<std::size_t> filled_{0};   // buffers handed off, counted by the caller
    std::atomic<std::size_t> written_{0};  // buffers written, counted by the writer
    std::atomic<bool> stopping_{false};
    std::atomic<bool> failed_{false};      // error_ holds what the sink threw
    std::exception_ptr error_;

    // For a thread that has waited long enough to sleep.
    std::atomic<int> sleepers_{0};
    std::mutex mutex_;
    std::condition_variable changed_;
    std::thread thread_;
};

}  // namespace z80db::detail

#endif
