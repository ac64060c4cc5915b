// The listing writer: formats bytes into data lines and streams a whole listing
// from a byte_source to a text_sink.
#include "z80db/listing.hpp"

#include <array>
#include <cstring>
#include <memory>

namespace z80db {
namespace {

constexpr char hex_digits[] = "0123456789abcdef";

// An item with the character in front of it: a tab for the first item of a line,
// "," for the others. Always four bytes long so that it can be stored in one move;
// the fourth is scratch for values below 16, which take one digit.
struct item {
    std::array<char, 4> text;
};

constexpr std::array<item, 256> make_items(char lead) {
    std::array<item, 256> items{};
    for (unsigned v = 0; v < 256; ++v) {
        if (v < 16) {
            items[v] = {{lead, hex_marker, hex_digits[v], '\0'}};
        } else {
            items[v] = {{lead, hex_marker, hex_digits[v >> 4], hex_digits[v & 15]}};
        }
    }
    return items;
}

constexpr auto first_items = make_items(line_start.back());
constexpr auto next_items = make_items(item_separator);

// Bytes in an item with its lead character.
constexpr std::size_t item_size(unsigned char v) { return v < 16 ? 3 : 4; }

char* put_item(const std::array<item, 256>& items, unsigned char v, char* out) {
    std::memcpy(out, items[v].text.data(), 4);
    return out + item_size(v);
}

// The line break and the line start without its last character, which comes
// with the first item; padded to eight bytes to be stored in one move.
constexpr std::array<char, 8> lf_prefix = {'\n', '\t', 'd', 'b', 0, 0, 0, 0};
constexpr std::array<char, 8> crlf_prefix = {'\r', '\n', '\t', 'd', 'b', 0, 0, 0};

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
    // Finish a line left open by the previous block.
    while (n > 0 && column_ != 0) {
        out = put_item(next_items, *data++, out);
        --n;
        column_ = (column_ + 1) % bytes_per_line;
    }
    // Whole lines: the prefix, then eight items from the tables.
    const auto& prefix = crlf_ ? crlf_prefix : lf_prefix;
    const std::size_t prefix_size = crlf_ ? 5 : 4;
    for (; n >= bytes_per_line; n -= bytes_per_line, data += bytes_per_line) {
        std::memcpy(out, prefix.data(), prefix.size());
        out += prefix_size;
        out = put_item(first_items, data[0], out);
        for (std::size_t k = 1; k < bytes_per_line; ++k) out = put_item(next_items, data[k], out);
    }
    // The start of a last line, left open for the next block.
    return format_reference(data, n, out);
}

char* listing_formatter::finish(char* out) const noexcept { return put_line_break(crlf_, out); }

void write_listing(byte_source& in, text_sink& out, std::string_view input_path, line_end end) {
    // One block of input, and room for its text behind whatever the buffer holds
    // already. A short header shares the buffer, so that a small input is written
    // with a single call.
    constexpr std::size_t block = 32 * 1024;
    constexpr std::size_t header_room = 4096;
    constexpr std::size_t capacity = header_room + listing_formatter::max_text_size(block);
    const auto bytes = std::make_unique_for_overwrite<unsigned char[]>(block);
    const auto text = std::make_unique_for_overwrite<char[]>(capacity);

    char* const begin = text.get();
    char* pos = begin;
    const std::string header = header_line(input_path);
    if (header.size() <= header_room) {
        pos = std::copy(header.begin(), header.end(), pos);
    } else {
        out.write(header.data(), header.size());
    }

    listing_formatter formatter(end);
    while (const std::size_t n = in.read(bytes.get(), block)) {
        if (static_cast<std::size_t>(capacity - (pos - begin)) < listing_formatter::max_text_size(n)) {
            out.write(begin, static_cast<std::size_t>(pos - begin));
            pos = begin;
        }
        pos = formatter.format(bytes.get(), n, pos);
    }
    pos = formatter.finish(pos);
    out.write(begin, static_cast<std::size_t>(pos - begin));
}

}  // namespace z80db
