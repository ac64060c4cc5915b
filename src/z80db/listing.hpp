// The listing format: bytes in, Z80 assembler text out, with no files involved.
//
// A listing is one header line that names the input, then `db` lines of up to
// `bytes_per_line` items, each item "#" and the byte in lowercase hexadecimal
// without leading zeros, items joined by ",", and one final line break:
//
//     ; Original Datas : sprite.bin
//     	db	#0,#a,#10,#7f,#80,#ff,#1,#2
//     	db	#3
#ifndef Z80DB_LISTING_HPP
#define Z80DB_LISTING_HPP

#include <cstddef>
#include <iosfwd>
#include <string>
#include <string_view>

namespace z80db {

// Items on one data line.
inline constexpr std::size_t bytes_per_line = 8;

// The literals of the format, byte for byte.
inline constexpr std::string_view header_text = "; Original Datas : ";
inline constexpr std::string_view line_start = "\tdb\t";  // follows every line break but the last
inline constexpr char item_separator = ',';
inline constexpr char hex_marker = '#';

// The line break written between lines: a line feed, or a carriage return and a
// line feed for Windows listings written to a binary (untranslated) output.
enum class line_end { lf, crlf };

#ifdef _WIN32
inline constexpr line_end native_line_end = line_end::crlf;
#else
inline constexpr line_end native_line_end = line_end::lf;
#endif

// The header line without its line break: header_text, then the input path as
// typed, except that control characters (0x00-0x1F but tab, and 0x7F) become '?'
// so that a file name cannot end the comment and inject assembler lines.
std::string header_line(std::string_view input_path);

// Turns a stream of bytes into the data lines of a listing, a block at a time.
// Blocks may be cut anywhere: the text is the same however the input is split.
class listing_formatter {
  public:
    explicit listing_formatter(line_end end = line_end::lf) noexcept
        : crlf_(end == line_end::crlf) {}

    // Room that format() and finish() may use for n bytes of input; it includes a
    // few bytes of scratch beyond the text that they report.
    static constexpr std::size_t max_text_size(std::size_t n) noexcept {
        return n * 4 + (n / bytes_per_line + 1) * 5 + 16;
    }

    // Writes the text for n bytes at out, which has room for max_text_size(n),
    // and returns the end of the text written.
    char* format(const unsigned char* data, std::size_t n, char* out) noexcept;

    // The same text, produced one byte at a time in the plainest way: the reference
    // that the faster format() is tested against.
    char* format_reference(const unsigned char* data, std::size_t n, char* out) noexcept;

    // Writes the final line break and returns the end of the text.
    char* finish(char* out) const noexcept;

  private:
    unsigned column_ = 0;  // items already on the current data line, 0 to bytes_per_line - 1
    bool crlf_;
};

// Where write_listing takes its bytes: read() fills up to n bytes of buf and
// returns how many it gave, 0 only at the end of the input. It reports a failure
// by throwing.
class byte_source {
  public:
    virtual std::size_t read(unsigned char* buf, std::size_t n) = 0;

  protected:
    ~byte_source() = default;
};

// Where write_listing puts its text: write() takes all n bytes or throws.
class text_sink {
  public:
    virtual void write(const char* text, std::size_t n) = 0;

    // True when write() may run on a second thread while the source is read on the
    // caller's: write_listing then writes one block while it formats the next, for
    // long inputs. Calls of write() never overlap one another. False by default.
    virtual bool background_writes() const { return false; }

  protected:
    ~text_sink() = default;
};

// Writes the whole listing of the bytes from in to out: the header naming
// input_path, the data lines, and the final line break. Streams the input in
// blocks, so memory stays the same whatever its length; an input of up to
// 36 KiB is written with a single call. Exceptions thrown by in or out pass
// through.
void write_listing(byte_source& in, text_sink& out, std::string_view input_path,
                   line_end end = native_line_end);

// The same for standard streams: in should be opened in binary mode, and out in
// text mode (whose own translation then gives each platform its line ends).
// Returns true when every byte of in was read and every write to out succeeded;
// on false, out may hold part of the listing.
bool write_listing(std::istream& in, std::ostream& out, std::string_view input_path);

}  // namespace z80db

#endif
