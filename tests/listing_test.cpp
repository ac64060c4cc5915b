// The listing format on memory: worked examples, hexadecimal items, the header,
// and the fast formatter against the plain reference on the same inputs.
#include "z80db/listing.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using bytes = std::vector<unsigned char>;

// Gives the input in pieces of the given sizes, cycling through them.
class memory_source final : public z80db::byte_source {
  public:
    explicit memory_source(const bytes& data, std::vector<std::size_t> pieces = {1 << 20})
        : data_(data), pieces_(std::move(pieces)) {}
    std::size_t read(unsigned char* buf, std::size_t n) override {
        const std::size_t piece = pieces_[next_++ % pieces_.size()];
        const std::size_t k = std::min({n, piece, data_.size() - pos_});
        std::copy_n(data_.begin() + static_cast<long>(pos_), k, buf);
        pos_ += k;
        return k;
    }

  private:
    const bytes& data_;
    std::vector<std::size_t> pieces_;
    std::size_t pos_ = 0;
    std::size_t next_ = 0;
};

class memory_sink final : public z80db::text_sink {
  public:
    explicit memory_sink(bool background = false, std::size_t fail_after = SIZE_MAX,
                         bool slow = false)
        : background_(background), fail_after_(fail_after), slow_(slow) {}
    void write(const char* text, std::size_t n) override {
        if (text_.size() + n > fail_after_) throw std::runtime_error("disk full");
        // A slow disk: the ring fills, and each write takes all the text ready.
        if (slow_) std::this_thread::sleep_for(std::chrono::microseconds(200));
        text_.append(text, n);
        ++writes_;
    }
    bool background_writes() const override { return background_; }
    std::string text_;
    int writes_ = 0;

  private:
    bool background_;
    std::size_t fail_after_;
    bool slow_;
};

std::string listing(const bytes& data, std::string_view path = "in.bin",
                    z80db::line_end end = z80db::line_end::lf,
                    std::vector<std::size_t> pieces = {1 << 20}) {
    memory_source in(data, std::move(pieces));
    memory_sink out;
    z80db::write_listing(in, out, path, end);
    return out.text_;
}

bytes random_bytes(std::size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    bytes data(n);
    for (auto& b : data) b = static_cast<unsigned char>(gen());
    return data;
}

TEST(Listing, WorkedExamples) {
    const struct {
        bytes input;
        std::string lines;
    } cases[] = {
        {{}, ""},
        {{0x00}, "\tdb\t#0\n"},
        {{0x00, 0x0a, 0x10, 0x7f, 0x80, 0xff, 0x01, 0x02, 0x03},
         "\tdb\t#0,#a,#10,#7f,#80,#ff,#1,#2\n\tdb\t#3\n"},
        {{1, 2, 3, 4, 5, 6, 7, 8}, "\tdb\t#1,#2,#3,#4,#5,#6,#7,#8\n"},
        {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16},
         "\tdb\t#1,#2,#3,#4,#5,#6,#7,#8\n\tdb\t#9,#a,#b,#c,#d,#e,#f,#10\n"},
        // Line ends and end-of-file marks in the data are bytes like any other.
        {{0x0d, 0x0a, 0x1a, 0x00}, "\tdb\t#d,#a,#1a,#0\n"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(listing(c.input), "; Original Datas : in.bin\n" + c.lines);
    }
}

TEST(Listing, ItemsAreLowercaseHexWithoutLeadingZeros) {
    const struct {
        unsigned char value;
        const char* item;
    } cases[] = {{0, "#0"},    {9, "#9"},    {10, "#a"},   {15, "#f"},  {16, "#10"},
                 {127, "#7f"}, {128, "#80"}, {171, "#ab"}, {255, "#ff"}};
    for (const auto& c : cases) {
        EXPECT_EQ(listing({c.value}, "x"),
                  std::string("; Original Datas : x\n\tdb\t") + c.item + "\n")
            << int(c.value);
    }
}

TEST(Listing, CrlfLineEnds) {
    EXPECT_EQ(listing({}, "a", z80db::line_end::crlf), "; Original Datas : a\r\n");
    EXPECT_EQ(listing({1, 2, 3, 4, 5, 6, 7, 8, 0xff}, "a", z80db::line_end::crlf),
              "; Original Datas : a\r\n\tdb\t#1,#2,#3,#4,#5,#6,#7,#8\r\n\tdb\t#ff\r\n");
}

TEST(Listing, HeaderKeepsThePathButNotControlCharacters) {
    const struct {
        std::string path, shown;
    } cases[] = {
        {"gfx/tiles.bin", "gfx/tiles.bin"},
        {"../data dir/my file.bin", "../data dir/my file.bin"},
        {"C:\\games\\logo.bin", "C:\\games\\logo.bin"},
        {"-o", "-o"},
        {"tab\there", "tab\there"},
        {"caf\xc3\xa9.bin", "caf\xc3\xa9.bin"},
        {"\xff\x80", "\xff\x80"},
        {"a\nb", "a?b"},
        {"x.bin\n\tdb\t#ff", "x.bin?\tdb\t#ff"},
        {"a\rb", "a?b"},
        {std::string("a\0b", 3), "a?b"},
        {"\x1b[2J\x7f", "?[2J?"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(z80db::header_line(c.path), "; Original Datas : " + c.shown);
        EXPECT_EQ(listing({}, c.path), "; Original Datas : " + c.shown + "\n");
    }
}

TEST(Listing, LongPathIsWrittenWhole) {
    const std::string path(10000, 'p');
    EXPECT_EQ(listing({7}, path), "; Original Datas : " + path + "\n\tdb\t#7\n");
}

TEST(Listing, TextDoesNotDependOnHowTheInputIsCut) {
    // Spans several internal blocks so that the buffer is written more than once.
    const bytes data = random_bytes(200'001, 1);
    const std::string whole = listing(data);
    const std::vector<std::vector<std::size_t>> cuts = {
        {1}, {7}, {8}, {9}, {3, 64 * 1024 - 1, 5}, {32 * 1024}, {32 * 1024 + 1}};
    for (const auto& pieces : cuts) {
        EXPECT_EQ(listing(data, "in.bin", z80db::line_end::lf, pieces), whole) << pieces[0];
    }
    // 25001 lines after the header: 25000 of eight items and one of one.
    EXPECT_EQ(std::count(whole.begin(), whole.end(), '\n'), 25002);
    EXPECT_EQ(
        whole.substr(whole.rfind("\n\t")), "\n\tdb\t#" + [&] {
            std::ostringstream hex;
            hex << std::hex << int(data.back());
            return hex.str();
        }() + "\n");
}

TEST(Listing, SmallInputIsWrittenAtOnce) {
    const bytes data = random_bytes(1000, 2);
    memory_source in(data);
    memory_sink out;
    z80db::write_listing(in, out, "in.bin");
    EXPECT_EQ(out.writes_, 1);
}

// The fast formatter must give the reference's text byte for byte, for every
// start column, data alignment and tail length.
TEST(Formatter, MatchesReference) {
    const bytes data = random_bytes(4096 + 64, 3);
    for (auto end : {z80db::line_end::lf, z80db::line_end::crlf}) {
        for (std::size_t lead = 0; lead < z80db::bytes_per_line; ++lead) {
            for (std::size_t offset = 0; offset < 16; ++offset) {
                for (std::size_t n : {0, 1, 7, 8, 9, 15, 16, 17, 63, 64, 65, 1000, 4096}) {
                    z80db::listing_formatter fast(end), slow(end);
                    std::string a(z80db::listing_formatter::max_text_size(lead + n), '\0');
                    std::string b = a;
                    char* pa = fast.format(data.data(), lead, a.data());
                    char* pb = slow.format_reference(data.data(), lead, b.data());
                    pa = fast.format(data.data() + offset, n, pa);
                    pb = slow.format_reference(data.data() + offset, n, pb);
                    pa = fast.finish(pa);
                    pb = slow.finish(pb);
                    a.resize(static_cast<std::size_t>(pa - a.data()));
                    b.resize(static_cast<std::size_t>(pb - b.data()));
                    ASSERT_EQ(a, b) << "lead " << lead << " offset " << offset << " n " << n;
                }
            }
        }
    }
}

TEST(Formatter, WorstCaseFitsTheReservedRoom) {
    // All values of two digits and a line break with a carriage return: the most
    // text per byte. The reserved room holds it, scratch included.
    const bytes data(1024, 0xff);
    for (std::size_t n = 0; n <= data.size(); ++n) {
        z80db::listing_formatter f(z80db::line_end::crlf);
        std::string text(z80db::listing_formatter::max_text_size(n) + 64, '\x55');
        char* end = f.finish(f.format(data.data(), n, text.data()));
        const auto used = static_cast<std::size_t>(end - text.data());
        ASSERT_LE(used + 8, z80db::listing_formatter::max_text_size(n)) << n;
        ASSERT_EQ(text.find_first_not_of('\x55', z80db::listing_formatter::max_text_size(n)),
                  std::string::npos)
            << n;
    }
}

TEST(Listing, FailuresOfSourceAndSinkPassThrough) {
    struct failing_source final : z80db::byte_source {
        std::size_t read(unsigned char*, std::size_t) override { throw std::runtime_error("read"); }
    } bad_in;
    memory_sink out;
    EXPECT_THROW(z80db::write_listing(bad_in, out, "x"), std::runtime_error);

    struct failing_sink final : z80db::text_sink {
        void write(const char*, std::size_t) override { throw std::runtime_error("write"); }
    } bad_out;
    const bytes data = random_bytes(10, 4);
    memory_source in(data);
    EXPECT_THROW(z80db::write_listing(in, bad_out, "x"), std::runtime_error);
}

TEST(BackgroundWrites, GiveTheSameText) {
    // Inputs that fit the ring, that just pass it, and that go round it many
    // times; read whole, in small pieces, and in pieces that cut the lines.
    for (std::size_t n : {0, 1, 36 * 1024, 36 * 1024 + 1, 300'000, 2'000'000}) {
        const bytes data = random_bytes(n, 6);
        for (const auto& pieces :
             std::vector<std::vector<std::size_t>>{{1 << 20}, {1000}, {7, 5000}}) {
            for (bool slow : {false, true}) {
                memory_source in(data, pieces);
                memory_sink out(true, SIZE_MAX, slow);
                z80db::write_listing(in, out, "in.bin");
                EXPECT_EQ(out.text_, listing(data)) << n << " slow " << slow;
            }
        }
    }
}

TEST(BackgroundWrites, FailuresPassThrough) {
    const bytes data = random_bytes(1'000'000, 7);
    // The sink fails part-way, on the writer's thread.
    for (std::size_t fail_after : {0, 1000, 100'000, 2'000'000}) {
        memory_source in(data);
        memory_sink out(true, fail_after);
        EXPECT_THROW(z80db::write_listing(in, out, "x"), std::runtime_error) << fail_after;
    }
    // The source fails while blocks are still being written.
    struct failing_source final : z80db::byte_source {
        std::size_t given = 0;
        std::size_t read(unsigned char* buf, std::size_t n) override {
            if (given > 500'000) throw std::logic_error("read fault");
            std::fill_n(buf, n, 0xab);
            given += n;
            return n;
        }
    } in;
    memory_sink out(true);
    EXPECT_THROW(z80db::write_listing(in, out, "x"), std::logic_error);
}

TEST(StreamListing, WritesTheSameTextThroughStreams) {
    const bytes data = random_bytes(100'000, 5);
    std::istringstream in(std::string(data.begin(), data.end()));
    std::ostringstream out;
    EXPECT_TRUE(z80db::write_listing(in, out, "in.bin"));
    EXPECT_EQ(out.str(), listing(data));
}

TEST(StreamListing, ReportsAFailedOutput) {
    std::istringstream in("abc");
    std::ostringstream out;
    out.setstate(std::ios::badbit);
    EXPECT_FALSE(z80db::write_listing(in, out, "in.bin"));
}

}  // namespace
