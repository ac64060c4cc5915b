// Writes the listing of a few bytes held in memory to standard output.
#include <z80db/listing.hpp>

#include <iostream>
#include <sstream>

int main() {
    static_assert(z80db::bytes_per_line == 8);
    std::istringstream in(std::string("\x00\x0a\x10\x7f\x80\xff\x01\x02\x03", 9));
    return z80db::write_listing(in, std::cout, "memory") ? 0 : 1;
}
