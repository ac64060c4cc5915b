// Fuzz target: arbitrary bytes through the whole listing writer, read in chunks
// of arbitrary sizes, with either line end and with or without background
// writes. The listing must parse back to exactly the input, with its structure
// intact, and every line kernel must agree with the reference.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "kernels.hpp"
#include "z80db/listing.hpp"

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

class chunked_source final : public z80db::byte_source {
  public:
    chunked_source(const std::vector<unsigned char>& data, std::vector<std::size_t> cuts)
        : data_(data), cuts_(std::move(cuts)) {}
    std::size_t read(unsigned char* buf, std::size_t n) override {
        std::size_t want = cuts_.empty() ? n : cuts_[next_++ % cuts_.size()];
        want = std::min({want == 0 ? 1 : want, n, data_.size() - pos_});
        std::copy_n(data_.begin() + static_cast<std::ptrdiff_t>(pos_), want, buf);
        pos_ += want;
        return want;
    }

  private:
    const std::vector<unsigned char>& data_;
    std::vector<std::size_t> cuts_;
    std::size_t pos_ = 0;
    std::size_t next_ = 0;
};

class string_sink final : public z80db::text_sink {
  public:
    explicit string_sink(bool background) : background_(background) {}
    void write(const char* part, std::size_t n) override { text.append(part, n); }
    bool background_writes() const override { return background_; }
    std::string text;

  private:
    bool background_;
};

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Parses a listing back into its bytes, checking its shape on the way.
std::vector<unsigned char> parse(std::string_view text, std::string_view header,
                                 std::string_view eol) {
    std::vector<unsigned char> bytes;
    check(text.size() >= eol.size() && text.substr(text.size() - eol.size()) == eol);
    std::size_t line_no = 0, last_items = z80db::bytes_per_line;
    for (std::size_t pos = 0; pos < text.size(); ++line_no) {
        const std::size_t end = text.find(eol, pos);
        check(end != std::string_view::npos);
        std::string_view line = text.substr(pos, end - pos);
        pos = end + eol.size();
        check(line.find('\n') == std::string_view::npos &&
              line.find('\r') == std::string_view::npos);
        if (line_no == 0) {
            check(line == header);
            continue;
        }
        // Only the last data line may hold fewer than eight items.
        check(last_items == z80db::bytes_per_line);
        check(line.substr(0, 4) == "\tdb\t");
        line.remove_prefix(4);
        std::size_t items = 0;
        for (;;) {
            const std::size_t comma = line.find(',');
            const std::string_view item = line.substr(0, comma);
            check(item.size() == 2 || item.size() == 3);
            check(item[0] == '#');
            check(item.size() == 2 || item[1] != '0');
            int value = 0;
            for (char c : item.substr(1)) {
                check(hex_value(c) >= 0);
                value = value * 16 + hex_value(c);
            }
            bytes.push_back(static_cast<unsigned char>(value));
            ++items;
            if (comma == std::string_view::npos) break;
            line.remove_prefix(comma + 1);
        }
        check(items >= 1 && items <= z80db::bytes_per_line);
        last_items = items;
    }
    return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* raw, std::size_t size) {
    FuzzedDataProvider fdp(raw, size);
    const bool crlf = fdp.ConsumeBool();
    const bool background = fdp.ConsumeBool();
    const std::string path = fdp.ConsumeRandomLengthString(40);
    std::vector<std::size_t> cuts(fdp.ConsumeIntegralInRange<std::size_t>(0, 8));
    for (auto& cut : cuts) cut = fdp.ConsumeIntegralInRange<std::size_t>(0, 70'000);
    const std::vector<unsigned char> data = fdp.ConsumeRemainingBytes<unsigned char>();

    chunked_source in(data, cuts);
    string_sink out(background);
    const auto end = crlf ? z80db::line_end::crlf : z80db::line_end::lf;
    z80db::write_listing(in, out, path, end);
    check(parse(out.text, z80db::header_line(path), crlf ? "\r\n" : "\n") == data);

    // Every kernel against the reference on the whole lines of the input.
    const std::size_t lines = data.size() / z80db::bytes_per_line;
    std::string expected(z80db::listing_formatter::max_text_size(data.size()), '\0');
    z80db::listing_formatter reference(end);
    expected.resize(static_cast<std::size_t>(
        reference.format_reference(data.data(), lines * z80db::bytes_per_line, expected.data()) -
        expected.data()));
    for (const auto& kernel : z80db::detail::available_kernels()) {
        std::string text(z80db::listing_formatter::max_text_size(data.size()), '\0');
        text.resize(static_cast<std::size_t>(kernel.run(data.data(), lines, text.data(), crlf) -
                                             text.data()));
        check(text == expected);
    }
    return 0;
}
