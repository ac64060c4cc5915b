// Hands listing text to a sink through a ring of bytes. Where the sink allows it,
// a second thread writes all the text that is ready in one call while the caller
// formats more, so that formatting hides behind the write calls.
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
    // A ring of size bytes. The writing thread starts only when the ring is first
    // full, so that a text that fits in it is written with one call and no thread.
    text_writer(text_sink& out, std::size_t size);
    text_writer(const text_writer&) = delete;
    text_writer& operator=(const text_writer&) = delete;
    // Abandons what is not written yet; after a failure, that is all there is to do.
    ~text_writer();

    // Room for n bytes of text in one piece, n at most the ring's size; waits for
    // the writer when the ring is full. Throws what the sink threw.
    char* room(std::size_t n);

    // The first n bytes of the last room are text to write.
    void commit(std::size_t n);

    // Writes what is left and returns once everything is written.
    void finish();

  private:
    // Positions count bytes from the start of the text, gaps included: a lap of
    // the ring is size_ bytes, and the text of lap k ends at lap_end_[k % 2].
    char* at(std::size_t position) const { return memory_.get() + position % size_; }
    void write_in_background();
    template <class Ready>
    void wait_until(Ready ready);
    void wake();
    void rethrow_failure();
    void stop();

    text_sink& out_;
    const std::size_t size_;
    const std::unique_ptr<char[]> memory_;
    const bool background_;

    std::atomic<std::size_t> head_{0};  // end of the text committed, moved by the caller
    std::atomic<std::size_t> tail_{0};  // end of the text written, moved by the writer
    std::array<std::atomic<std::size_t>, 2> lap_end_{};  // where a lap's text stops short
    std::atomic<bool> stopping_{false};
    std::atomic<bool> failed_{false};  // error_ holds what the sink threw
    std::exception_ptr error_;

    // For a thread that has waited long enough to sleep.
    std::atomic<int> sleepers_{0};
    std::mutex mutex_;
    std::condition_variable changed_;
    std::thread thread_;
};

}  // namespace z80db::detail

#endif
