// File handling and error reporting for the command-line program. Works on plain
// file descriptors so that every failure comes with the system's reason.
#include "convert.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "z80db/listing.hpp"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace z80db {
namespace {

// What failed, on which path, and errno (0 when the system gave no reason).
struct file_error {
    const char* what;
    const char* path;
    int error;
    const char* reason = nullptr;  // used when error is 0
};

void report(const file_error& e) {
    // The path goes through the same cleaning as the listing's header, so that a
    // crafted name cannot put control characters on the terminal either.
    std::string path = header_line(e.path).substr(header_text.size());
    std::string line = std::string("z80db: ") + e.what + " '" + path +
                       "': " + (e.error != 0 ? std::strerror(e.error) : e.reason) + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

// What an open descriptor refers to, as far as the conversion cares: a device
// is a terminal, /dev/null and the like; other covers pipes.
enum class file_kind { regular, directory, device, other };

// The few system calls the conversion needs, for POSIX systems and Windows.
#ifdef _WIN32
using io_size = int;
constexpr io_size max_io = 1 << 30;
// Paths arrive in UTF-8 and are opened through the UTF-16 calls, so that every
// name works whatever the code page.
std::wstring widen(const char* path) {
    const int size = MultiByteToWideChar(CP_UTF8, 0, path, -1, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size > 0 ? size : 1), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, path, -1, wide.data(), size);
    wide.resize(wcslen(wide.c_str()));
    return wide;
}
int open_input(const char* path) {
    return _wopen(widen(path).c_str(), _O_RDONLY | _O_BINARY);
}
int open_output(const char* path) {
    return _wopen(widen(path).c_str(), _O_WRONLY | _O_CREAT | _O_BINARY, _S_IREAD | _S_IWRITE);
}
long read_some(int fd, void* buf, io_size n) {
    return _read(fd, buf, static_cast<unsigned>(n));
}
long write_some(int fd, const void* buf, io_size n) {
    return _write(fd, buf, static_cast<unsigned>(n));
}
int close_file(int fd) {
    return _close(fd);
}
int truncate_file(int fd) {
    return _chsize_s(fd, 0) == 0 ? 0 : -1;
}
int duplicate(int fd) {
    return _dup(fd);
}
void remove_file(const char* path) {
    _wunlink(widen(path).c_str());
}
file_kind kind_of(int fd) {
    struct _stat64 st;
    if (_fstat64(fd, &st) != 0) return file_kind::other;
    switch (st.st_mode & _S_IFMT) {
        case _S_IFREG:
            return file_kind::regular;
        case _S_IFDIR:
            return file_kind::directory;
        case _S_IFCHR:
            return file_kind::device;
        default:
            return file_kind::other;
    }
}
bool same_file(int a, int b) {
    BY_HANDLE_FILE_INFORMATION x, y;
    const auto ha = reinterpret_cast<HANDLE>(_get_osfhandle(a));
    const auto hb = reinterpret_cast<HANDLE>(_get_osfhandle(b));
    return GetFileInformationByHandle(ha, &x) && GetFileInformationByHandle(hb, &y) &&
           x.dwVolumeSerialNumber == y.dwVolumeSerialNumber &&
           x.nFileIndexHigh == y.nFileIndexHigh && x.nFileIndexLow == y.nFileIndexLow;
}
#else
using io_size = std::size_t;
constexpr io_size max_io = io_size{1} << 30;
int open_input(const char* path) {
    return ::open(path, O_RDONLY | O_CLOEXEC);
}
int open_output(const char* path) {
    return ::open(path, O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
}
long read_some(int fd, void* buf, io_size n) {
    return ::read(fd, buf, n);
}
long write_some(int fd, const void* buf, io_size n) {
    return ::write(fd, buf, n);
}
int close_file(int fd) {
    return ::close(fd);
}
int truncate_file(int fd) {
    return ::ftruncate(fd, 0);
}
int duplicate(int fd) {
    return ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
}
// Removes the file that path names: the file a symbolic link points to, never
// the link itself.
void remove_file(const char* path) {
    char* real = ::realpath(path, nullptr);
    if (real != nullptr) ::unlink(real);
    std::free(real);
}
file_kind kind_of(int fd) {
    struct stat st;
    if (::fstat(fd, &st) != 0) return file_kind::other;
    if (S_ISREG(st.st_mode)) return file_kind::regular;
    if (S_ISDIR(st.st_mode)) return file_kind::directory;
    if (S_ISCHR(st.st_mode)) return file_kind::device;
    return file_kind::other;
}
bool same_file(int a, int b) {
    struct stat x, y;
    return ::fstat(a, &x) == 0 && ::fstat(b, &y) == 0 && x.st_dev == y.st_dev &&
           x.st_ino == y.st_ino;
}
#endif

class input_file final : public byte_source {
  public:
    input_file(int fd, const char* path) : fd_(fd), path_(path) {}
    std::size_t read(unsigned char* buf, std::size_t n) override {
        for (;;) {
            const long got = read_some(fd_, buf, static_cast<io_size>(n < max_io ? n : max_io));
            if (got >= 0) return static_cast<std::size_t>(got);
            if (errno != EINTR) throw file_error{"cannot read input", path_, errno};
        }
    }

  private:
    int fd_;
    const char* path_;
};

class output_file final : public text_sink {
  public:
    output_file(int fd, const char* path, file_kind kind)
        : fd_(fd), path_(path), device_(kind == file_kind::device) {}
    void write(const char* text, std::size_t n) override {
        while (n > 0) {
            const long put = write_some(fd_, text, static_cast<io_size>(n < max_io ? n : max_io));
            if (put > 0) {
                text += put;
                n -= static_cast<std::size_t>(put);
            } else if (put == 0) {
                throw file_error{"cannot write output", path_, EIO};
            } else if (errno != EINTR) {
                throw file_error{"cannot write output", path_, errno};
            }
        }
    }
    // Writing files and pipes from a second thread hides formatting behind the
    // write calls. Writes to a device (a terminal, /dev/null) cost too little for
    // a second thread to pay.
    bool background_writes() const override { return !device_; }

  private:
    int fd_;
    const char* path_;
    bool device_;
};

// Owns an open descriptor and closes it, unless it was closed on purpose first.
class descriptor {
  public:
    explicit descriptor(int fd) : fd_(fd) {}
    descriptor(const descriptor&) = delete;
    descriptor& operator=(const descriptor&) = delete;
    ~descriptor() {
        if (fd_ >= 0) close_file(fd_);
    }
    int get() const { return fd_; }
    int close() {
        const int fd = fd_;
        fd_ = -1;
        return close_file(fd);
    }

  private:
    int fd_;
};

// Paths that name the standard output. Opening them anew would start writing at
// the beginning of whatever it is redirected to and truncate it, losing what is
// there (with ">>", or output written before); the listing is written through
// the standard output as the shell set it up instead.
bool names_standard_output(std::string_view path) {
    return path == "/dev/stdout" || path == "/dev/fd/1";
}

// Opens the input and the output and writes the listing; throws file_error.
// The output is only created once the input is known to be readable, and only
// truncated once it is known not to be the input itself.
void convert(const char* input_path, const char* output_path) {
    const descriptor in(open_input(input_path));
    if (in.get() < 0) throw file_error{"cannot open input", input_path, errno};
    if (kind_of(in.get()) == file_kind::directory) {
        throw file_error{"cannot read input", input_path, EISDIR};
    }

    const bool to_stdout = names_standard_output(output_path);
    descriptor out(to_stdout ? duplicate(1) : open_output(output_path));
    if (out.get() < 0) throw file_error{"cannot open output", output_path, errno};
    const file_kind out_kind = kind_of(out.get());
    const bool regular = out_kind == file_kind::regular;
    if (regular && same_file(in.get(), out.get())) {
        throw file_error{"cannot write output", output_path, 0, "it is the input file"};
    }
    // A regular file that this run opened is emptied first, and removed if the
    // listing cannot be finished, so that no partial listing passes for a whole one.
    const bool owned = regular && !to_stdout;
    try {
        if (owned && truncate_file(out.get()) != 0) {
            throw file_error{"cannot write output", output_path, errno};
        }
        input_file source(in.get(), input_path);
        output_file sink(out.get(), output_path, out_kind);
        write_listing(source, sink, input_path);
    } catch (const file_error&) {
        if (owned) remove_file(output_path);
        throw;
    }
    if (out.close() != 0) {
        const int error = errno;
        if (owned) remove_file(output_path);
        throw file_error{"cannot write output", output_path, error};
    }
}

}  // namespace

int convert_file(const char* input_path, const char* output_path) {
    try {
        convert(input_path, output_path);
        return 0;
    } catch (const file_error& e) {
        report(e);
        return 1;
    }
}

}  // namespace z80db
