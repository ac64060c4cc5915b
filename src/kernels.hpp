// Kernels that format whole data lines. Each does the same work; the portable
// scalar one is the reference that every faster one is tested against, and
// format_lines() picks the fastest that this processor supports.
#ifndef Z80DB_KERNELS_HPP
#define Z80DB_KERNELS_HPP

#include <cstddef>
#include <span>

namespace z80db::detail {

// Formats lines * bytes_per_line bytes as that many data lines, each a line break
// (with a carriage return before it when crlf), the line start and eight items.
// Writes up to 16 bytes of scratch beyond the end it returns.
using line_kernel = char* (*)(const unsigned char* data, std::size_t lines, char* out,
                              bool crlf) noexcept;

struct kernel {
    const char* name;
    line_kernel run;
};

// The kernels this processor can run, the portable one first.
std::span<const kernel> available_kernels() noexcept;

// The fastest of them.
line_kernel best_kernel() noexcept;

}  // namespace z80db::detail

#endif
