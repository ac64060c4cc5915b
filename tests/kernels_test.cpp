// Every line kernel this processor runs gives the reference's text byte for byte,
// at every alignment of the input and for every number of lines.
#include "kernels.hpp"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "z80db/listing.hpp"

namespace {

std::vector<unsigned char> test_bytes() {
    // Every value, in every position of a line, then random bytes.
    std::vector<unsigned char> data;
    for (int round = 0; round < 8; ++round) {
        for (int v = 0; v < 256; ++v) data.push_back(static_cast<unsigned char>(v + round * 37));
    }
    std::mt19937 gen(11);
    for (int i = 0; i < 4096; ++i) data.push_back(static_cast<unsigned char>(gen()));
    // Runs of one-digit and two-digit values, the cases a squeezing kernel treats apart.
    for (int i = 0; i < 256; ++i) data.push_back(static_cast<unsigned char>(gen() % 16));
    for (int i = 0; i < 256; ++i) data.push_back(static_cast<unsigned char>(gen() | 0xf0));
    return data;
}

std::string reference_text(const unsigned char* data, std::size_t lines, bool crlf) {
    z80db::listing_formatter f(crlf ? z80db::line_end::crlf : z80db::line_end::lf);
    const std::size_t n = lines * z80db::bytes_per_line;
    std::string text(z80db::listing_formatter::max_text_size(n), '\0');
    text.resize(static_cast<std::size_t>(f.format_reference(data, n, text.data()) - text.data()));
    return text;
}

TEST(Kernels, PortableKernelComesFirst) {
    ASSERT_FALSE(z80db::detail::available_kernels().empty());
    EXPECT_STREQ(z80db::detail::available_kernels().front().name, "scalar");
}

TEST(Kernels, MatchReference) {
    const auto data = test_bytes();
    const std::size_t max_lines = 40;
    for (const auto& k : z80db::detail::available_kernels()) {
        for (bool crlf : {false, true}) {
            for (std::size_t offset = 0; offset + max_lines * 8 <= data.size(); offset += 3) {
                for (std::size_t lines : {std::size_t{0}, std::size_t{1}, std::size_t{2},
                                          std::size_t{3}, std::size_t{7}, max_lines}) {
                    const unsigned char* p = data.data() + offset;
                    std::string text(z80db::listing_formatter::max_text_size(lines * 8), '\0');
                    char* end = k.run(p, lines, text.data(), crlf);
                    text.resize(static_cast<std::size_t>(end - text.data()));
                    ASSERT_EQ(text, reference_text(p, lines, crlf))
                        << k.name << " crlf " << crlf << " offset " << offset << " lines " << lines;
                }
            }
        }
    }
}

}  // namespace
