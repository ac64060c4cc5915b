// The listing writer: formats bytes into data lines and streams a whole listing
// from a byte_source to a text_sink.
#include "z80db/listing.hpp"

#include <algorithm>
#include <cstring>
#include <memory>

#include "kernels.hpp"
#include "text_writer.hpp"

namespace z80db {
namespace {

constexpr char hex_digits[] = "0123456789abcdef";

char* put_line_break(bool crlf, char* out) {
    if (crlf) *out++ = '\r';
    *out++ = '\n';
    return out;
}

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

char* listing_formatter::finish(char* out) const noexcept {
    return put_line_break(crlf_, out);
}

void write_listing(byte_source& in, text_sink& out, std::string_view input_path, line_end end) {
    // The ring holds the text of one block of input. With background writes a
    // block is formatted a quarter at a time, so that the writer has text to
    // write while the rest is formatted. A short header shares the ring, so that a
    // small input is written with a single call.
    constexpr std::size_t block = std::size_t{36} * 1024;
    constexpr std::size_t header_room = 4096;
    const std::size_t step = out.background_writes() ? block / 4 : block;
    detail::text_writer writer(out, header_room + listing_formatter::max_text_size(block));
    const auto bytes = std::make_unique_for_overwrite<unsigned char[]>(block);

    const std::string header = header_line(input_path);
    if (header.size() <= header_room) {
        std::copy(header.begin(), header.end(), writer.room(header.size()));
        writer.commit(header.size());
    } else {
        out.write(header.data(), header.size());
    }

    listing_formatter formatter(end);
    while (const std::size_t got = in.read(bytes.get(), block)) {
        for (std::size_t done = 0; done < got; done += step) {
            const std::size_t n = std::min(step, got - done);
            char* const text = writer.room(listing_formatter::max_text_size(n));
            writer.commit(
                static_cast<std::size_t>(formatter.format(bytes.get() + done, n, text) - text));
        }
    }
    char* const text = writer.room(listing_formatter::max_text_size(0));
    writer.commit(static_cast<std::size_t>(formatter.finish(text) - text));
    writer.finish();
}

}  // namespace z80db
