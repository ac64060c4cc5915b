// write_listing for standard streams, for programs that hold their data in them.
// Kept apart from the core so that the command-line program links no iostreams.
#include <istream>
#include <ostream>

#include "z80db/listing.hpp"

namespace z80db {
namespace {

struct stream_failed {};

class stream_source final : public byte_source {
  public:
    explicit stream_source(std::istream& in) : in_(in) {}
    std::size_t read(unsigned char* buf, std::size_t n) override {
        in_.read(reinterpret_cast<char*>(buf), static_cast<std::streamsize>(n));
        if (in_.bad()) throw stream_failed{};
        return static_cast<std::size_t>(in_.gcount());
    }

  private:
    std::istream& in_;
};

class stream_sink final : public text_sink {
  public:
    explicit stream_sink(std::ostream& out) : out_(out) {}
    void write(const char* text, std::size_t n) override {
        if (!out_.write(text, static_cast<std::streamsize>(n))) throw stream_failed{};
    }

  private:
    std::ostream& out_;
};

}  // namespace

bool write_listing(std::istream& in, std::ostream& out, std::string_view input_path) {
    stream_source source(in);
    stream_sink sink(out);
    try {
        // Text mode translates the line feeds for the platform.
        write_listing(source, sink, input_path, line_end::lf);
    } catch (const stream_failed&) {
        return false;
    }
    return static_cast<bool>(out.flush());
}

}  // namespace z80db
