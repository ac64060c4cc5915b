// z80db: turns a binary file into Z80 assembler source.
//
// usage: z80db <filename.bin> <filename.z80>
//
// Writes a comment line naming the input, then "db" lines of eight bytes each in
// hexadecimal ("#0,#a,#ff,..."). Any other number of arguments prints the usage
// line on standard output and exits with status 255 (-1). Failures are reported
// on standard error with exit status 1.
#include <cstdio>
#include <cstring>

#include "convert.hpp"

int main(int argc, char** argv) {
    if (argc != 3) {
        // Argument 0 as received, a full path included; the name itself when the
        // process was started without one (Linux then passes an empty string).
        const bool named = argc > 0 && argv[0] != nullptr && argv[0][0] != '\0';
        const char* name = named ? argv[0] : "z80db";
        std::fwrite(name, 1, std::strlen(name), stdout);
        std::fputs(" <filename.bin> <filename.z80>\n", stdout);
        std::fflush(stdout);
        return -1;
    }
    return z80db::convert_file(argv[1], argv[2]);
}
