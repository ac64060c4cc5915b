// File handling around the listing writer: opens the input and the output,
// converts, and reports every failure on standard error.
#ifndef Z80DB_CONVERT_HPP
#define Z80DB_CONVERT_HPP

namespace z80db {

// Writes the listing of the file at input_path to the file at output_path.
// Returns the exit status: 0 on success; 1 after one line on standard error,
// "z80db: " then what failed, the path and the system's reason. An output that
// was not finished is removed when it is a regular file; an input that cannot be
// opened, or an output that is the input itself, leaves the output untouched.
int convert_file(const char* input_path, const char* output_path);

}  // namespace z80db

#endif
