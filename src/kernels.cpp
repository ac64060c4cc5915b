// The line kernels: a portable one built on tables of ready-made items, and one
// for x86 processors with SSSE3 that formats two lines per step.
#include "kernels.hpp"

#include <array>
#include <cstring>

#include "z80db/listing.hpp"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define Z80DB_HAVE_SSSE3 1
#include <immintrin.h>
#endif

namespace z80db::detail {
namespace {

constexpr char hex_digits[] = "0123456789abcdef";

// The line break and the line start without its last character (the tab, which
// comes with the first item), padded to eight bytes to be stored in one move.
struct line_prefix {
    std::array<char, 8> text;
    std::size_t size;
};
constexpr line_prefix lf_prefix = {{'\n', '\t', 'd', 'b', 0, 0, 0, 0}, 4};
constexpr line_prefix crlf_prefix = {{'\r', '\n', '\t', 'd', 'b', 0, 0, 0}, 5};

char* put_prefix(const line_prefix& prefix, char* out) noexcept {
    std::memcpy(out, prefix.text.data(), prefix.text.size());
    return out + prefix.size;
}

// An item with the character in front of it: a tab for the first item of a line,
// "," for the others. Always four bytes long so that it can be stored in one move;
// the fourth is scratch for values below 16, which take one digit.
using item = std::array<char, 4>;

constexpr std::array<item, 256> make_items(char lead) {
    std::array<item, 256> items{};
    for (unsigned v = 0; v < 256; ++v) {
        items[v] = {lead, hex_marker, hex_digits[v < 16 ? v : v >> 4],
                    v < 16 ? '\0' : hex_digits[v & 15]};
    }
    return items;
}

constexpr auto first_items = make_items(line_start.back());
constexpr auto next_items = make_items(item_separator);

char* put_item(const std::array<item, 256>& items, unsigned char v, char* out) noexcept {
    std::memcpy(out, items[v].data(), 4);
    return out + (v < 16 ? 3 : 4);
}

char* format_lines_scalar(const unsigned char* data, std::size_t lines, char* out,
                          bool crlf) noexcept {
    const line_prefix& prefix = crlf ? crlf_prefix : lf_prefix;
    for (; lines > 0; --lines, data += bytes_per_line) {
        out = put_prefix(prefix, out);
        out = put_item(first_items, data[0], out);
        for (std::size_t k = 1; k < bytes_per_line; ++k) out = put_item(next_items, data[k], out);
    }
    return out;
}

#ifdef Z80DB_HAVE_SSSE3
// Four items are laid out in 16 bytes as lead, "#", high digit, low digit each;
// a shuffle then drops the high digit of every value below 16. The shuffle for
// each pattern of one-digit values, and how many bytes it keeps:
struct squeeze {
    alignas(16) std::array<signed char, 16> order;
    std::size_t kept;
};

constexpr std::array<squeeze, 16> make_squeezes() {
    std::array<squeeze, 16> table{};
    for (unsigned mask = 0; mask < 16; ++mask) {
        std::size_t n = 0;
        for (unsigned k = 0; k < 4; ++k) {
            const auto at = static_cast<signed char>(4 * k);
            table[mask].order[n++] = at;
            table[mask].order[n++] = static_cast<signed char>(at + 1);
            if ((mask >> k & 1) == 0) table[mask].order[n++] = static_cast<signed char>(at + 2);
            table[mask].order[n++] = static_cast<signed char>(at + 3);
        }
        table[mask].kept = n;
        while (n < 16) table[mask].order[n++] = -1;
    }
    return table;
}

constexpr auto squeezes = make_squeezes();

__attribute__((target("ssse3"))) char* put_items_ssse3(__m128i items, unsigned mask,
                                                       char* out) noexcept {
    const squeeze& s = squeezes[mask];
    const __m128i order = _mm_load_si128(reinterpret_cast<const __m128i*>(s.order.data()));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_shuffle_epi8(items, order));
    return out + s.kept;
}

// One line from its sixteen digits (high and low for each of eight bytes) and
// the mask of its one-digit values.
__attribute__((target("ssse3"))) char* put_line_ssse3(const line_prefix& prefix, __m128i digits,
                                                      unsigned one_digit, char* out) noexcept {
    const __m128i spread_first =
        _mm_setr_epi8(-1, -1, 0, 1, -1, -1, 2, 3, -1, -1, 4, 5, -1, -1, 6, 7);
    const __m128i spread_last =
        _mm_setr_epi8(-1, -1, 8, 9, -1, -1, 10, 11, -1, -1, 12, 13, -1, -1, 14, 15);
    constexpr char tab = line_start.back(), sep = item_separator, mark = hex_marker;
    const __m128i leads_first =
        _mm_setr_epi8(tab, mark, 0, 0, sep, mark, 0, 0, sep, mark, 0, 0, sep, mark, 0, 0);
    const __m128i leads_last =
        _mm_setr_epi8(sep, mark, 0, 0, sep, mark, 0, 0, sep, mark, 0, 0, sep, mark, 0, 0);
    out = put_prefix(prefix, out);
    out = put_items_ssse3(_mm_or_si128(_mm_shuffle_epi8(digits, spread_first), leads_first),
                          one_digit & 15, out);
    return put_items_ssse3(_mm_or_si128(_mm_shuffle_epi8(digits, spread_last), leads_last),
                           one_digit >> 4 & 15, out);
}

__attribute__((target("ssse3"))) char* format_lines_ssse3(const unsigned char* data,
                                                          std::size_t lines, char* out,
                                                          bool crlf) noexcept {
    const line_prefix& prefix = crlf ? crlf_prefix : lf_prefix;
    const __m128i hex = _mm_loadu_si128(reinterpret_cast<const __m128i*>(hex_digits));
    const __m128i nibble = _mm_set1_epi8(0x0f);
    // Two lines per step: the digits of sixteen bytes at once.
    for (; lines >= 2; lines -= 2, data += 2 * bytes_per_line) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data));
        const __m128i high = _mm_and_si128(_mm_srli_epi16(v, 4), nibble);
        const __m128i low = _mm_and_si128(v, nibble);
        const auto one_digit =
            static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(high, _mm_setzero_si128())));
        const __m128i high_digits = _mm_shuffle_epi8(hex, high);
        const __m128i low_digits = _mm_shuffle_epi8(hex, low);
        out = put_line_ssse3(prefix, _mm_unpacklo_epi8(high_digits, low_digits), one_digit, out);
        out =
            put_line_ssse3(prefix, _mm_unpackhi_epi8(high_digits, low_digits), one_digit >> 8, out);
    }
    return format_lines_scalar(data, lines, out, crlf);
}
#endif

constexpr kernel portable = {"scalar", format_lines_scalar};

}  // namespace

std::span<const kernel> available_kernels() noexcept {
#ifdef Z80DB_HAVE_SSSE3
    static const kernel all[] = {portable, {"ssse3", format_lines_ssse3}};
    static const std::size_t count = __builtin_cpu_supports("ssse3") ? 2 : 1;
    return {all, count};
#else
    static const kernel all[] = {portable};
    return all;
#endif
}

line_kernel best_kernel() noexcept {
    return available_kernels().back().run;
}

}  // namespace z80db::detail
