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

#ifdef _WIN32
#include <windows.h>

#include <string>
#include <vector>
#endif

namespace {

int run(int argc, char** argv) {
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

}  // namespace

#ifdef _WIN32
// Windows hands the arguments over in UTF-16. They go on in UTF-8, so that any
// file name can be opened (the narrow arguments lose what the code page lacks)
// and is shown in the listing as typed.
int wmain(int argc, wchar_t** wide_argv) {
    std::vector<std::string> args;
    for (int i = 0; i < argc; ++i) {
        const int size =
            WideCharToMultiByte(CP_UTF8, 0, wide_argv[i], -1, nullptr, 0, nullptr, nullptr);
        std::string arg(static_cast<std::size_t>(size > 0 ? size : 1), '\0');
        WideCharToMultiByte(CP_UTF8, 0, wide_argv[i], -1, arg.data(), size, nullptr, nullptr);
        arg.resize(std::strlen(arg.c_str()));
        args.push_back(std::move(arg));
    }
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    return run(argc, argv.data());
}
#else
int main(int argc, char** argv) {
    return run(argc, argv);
}
#endif
