// The listing writer: formats bytes into data lines and streams a whole listing
// from a byte_source to a text_sink.
#include "z80db/listing.hpp"

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>

#include "kernels.hpp"

namespace z80db {
namespace {

constexpr char hex_digits[] = "0123456789abcdef";

char* put_line_break(bool crlf, char* out) {
    if (crlf) *out++ = '\r';
    *out++ = '\n';
    return out;
}

// Hands buffers of text to a sink. Where the sink allows it, a second thread
// writes them from a small ring while the caller fills the next; the thread is
// started only when a second buffer is needed, so that a small input costs none.
class text_writer {
public:
    text_writer(text_sink& out, std::size_t capacity)
        : out_(out),
          capacity_(capacity),
          slots_(out.background_writes() ? ring_size : 1),
          memory_(std::make_unique_for_overwrite<char[]>(capacity * slots_)) {}
    text_writer(const text_writer&) = delete;
    text_writer& operator=(const text_writer&) = delete;
    ~text_writer() { stop(); }

    std::size_t capacity() const { return capacity_; }

    // The buffer to fill now.
    char* buffer() const { return slot(filled_); }

    // The first n bytes of the buffer are text to write; the next buffer is then
    // the one to fill.
    void hand_off(std::size_t n) {
        if (slots_ == 1) {
            out_.write(buffer(), n);
            return;
        }
        if (!thread_.joinable()) thread_ = std::thread([this] { write_in_background(); });
        std::unique_lock lock(mutex_);
        sizes_[filled_ % slots_] = n;
        ++filled_;
        changed_.notify_all();
        changed_.wait(lock, [this] { return filled_ - written_ < slots_ || error_; });
        if (error_) std::rethrow_exception(error_);
    }

    // Writes the last n bytes of text and returns once all is written.
    void finish(std::size_t n) {
        if (!thread_.joinable()) {
            out_.write(buffer(), n);
            return;
        }
        hand_off(n);
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [this] { return written_ == filled_ || error_; });
        }
        stop();
        if (error_) std::rethrow_exception(error_);
    }

private:
    static constexpr std::size_t ring_size = 3;

    char* slot(std::size_t k) const { return memory_.get() + (k % slots_) * capacity_; }

    void write_in_background() {
        std::unique_lock lock(mutex_);
        for (;;) {
            changed_.wait(lock, [this] { return written_ < filled_ || stopping_; });
            if (stopping_) return;
            const std::size_t k = written_;
            lock.unlock();
            try {
                out_.write(slot(k), sizes_[k % slots_]);
            } catch (...) {
                lock.lock();
                error_ = std::current_exception();
                changed_.notify_all();
                return;
            }
            lock.lock();
            ++written_;
            changed_.notify_all();
        }
    }

    // Ends the thread after the write it is doing, if any.
    void stop() {
        if (!thread_.joinable()) return;
        {
            const std::lock_guard lock(mutex_);
            stopping_ = true;
            changed_.notify_all();
        }
        thread_.join();
    }

    text_sink& out_;
    const std::size_t capacity_;
    const std::size_t slots_;
    const std::unique_ptr<char[]> memory_;
    std::array<std::size_t, ring_size> sizes_{};
    std::size_t filled_ = 0;   // buffers handed off; written only by the caller
    std::size_t written_ = 0;  // buffers written; the caller waits for it to catch up
    bool stopping_ = false;
    std::exception_ptr error_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::thread thread_;
};

}  // namespace

std::string header_line(std::string_view input_path) {
    std::string line(header_text);
    line.reserve(header_text.size() + input_path.size());
    for (char c : input_path) {
        const auto u = static_cast<unsigned char>(c);
        line += (u < 0x20 && c != '\t') || u == 0x7f ? '?' : c;
    }
    return line;
}

char* listing_formatter::format_reference(const unsigned char* data, std::size_t n,
                                          char* out) noexcept {
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char v = data[i];
        if (column_ == 0) {
            out = put_line_break(crlf_, out);
            std::memcpy(out, line_start.data(), line_start.size());
            out += line_start.size();
        } else {
            *out++ = item_separator;
        }
        *out++ = hex_marker;
        if (v >= 16) *out++ = hex_digits[v >> 4];
        *out++ = hex_digits[v & 15];
        column_ = (column_ + 1) % bytes_per_line;
    }
    return out;
}

char* listing_formatter::format(const unsigned char* data, std::size_t n, char* out) noexcept {
    static const detail::line_kernel format_lines = detail::best_kernel();
    // The rest of a line left open by the previous block, whole lines, then the
    // start of a line that the next block goes on with.
    const std::size_t rest = column_ == 0 ? 0 : std::min(n, bytes_per_line - column_);
    out = format_reference(data, rest, out);
    const std::size_t lines = (n - rest) / bytes_per_line;
    out = format_lines(data + rest, lines, out, crlf_);
    const std::size_t done = rest + lines * bytes_per_line;
    return format_reference(data + done, n - done, out);
}

char* listing_formatter::finish(char* out) const noexcept { return put_line_break(crlf_, out); }

void write_listing(byte_source& in, text_sink& out, std::string_view input_path, line_end end) {
    // The header shares the first buffer when it is short, so that a small input
    // is written with a single call.
    constexpr std::size_t block = 12 * 1024;
    constexpr std::size_t header_room = 4096;
    text_writer writer(out, header_room + listing_formatter::max_text_size(block));
    const auto bytes = std::make_unique_for_overwrite<unsigned char[]>(block);

    const std::string header = header_line(input_path);
    std::size_t used = 0;
    if (header.size() <= header_room) {
        used = static_cast<std::size_t>(std::copy(header.begin(), header.end(), writer.buffer()) -
                                        writer.buffer());
    } else {
        out.write(header.data(), header.size());
    }

    listing_formatter formatter(end);
    while (const std::size_t n = in.read(bytes.get(), block)) {
        if (writer.capacity() - used < listing_formatter::max_text_size(n)) {
            writer.hand_off(used);
            used = 0;
        }
        char* const text = writer.buffer();
        used = static_cast<std::size_t>(formatter.format(bytes.get(), n, text + used) - text);
    }
    char* const text = writer.buffer();
    writer.finish(static_cast<std::size_t>(formatter.finish(text + used) - text));
}

}  // namespace z80db
