// The program as users run it: the real executable, its files, messages and
// exit statuses.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const std::string usage_tail = " <filename.bin> <filename.z80>\n";

struct result {
    int status = -1;
    std::string out, err;
};

struct run_options {
    const std::string* stdin_data = nullptr;  // fed through a pipe when set
    rlim_t max_file_size = RLIM_INFINITY;
    const char* stdout_before = nullptr;  // standard output appends to this text when set
};

std::string read_file(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void write_file(const fs::path& p, const std::string& data) {
    std::ofstream(p, std::ios::binary) << data;
}

std::string random_data(std::size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::string data(n, '\0');
    for (auto& c : data) c = static_cast<char>(gen());
    return data;
}

// Each test runs in a folder of its own, which is also the program's working folder.
class Cli : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string tmpl = (fs::temp_directory_path() / "z80db-test-XXXXXX").string();
        ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override { fs::remove_all(dir_); }

    // Runs the program with exactly these arguments, argument 0 included.
    result run_argv(const std::vector<std::string>& argv, const run_options& opt = {}) {
        const fs::path out_file = dir_ / ".stdout", err_file = dir_ / ".stderr";
        if (opt.stdout_before != nullptr) write_file(out_file, opt.stdout_before);
        int feed[2] = {-1, -1};
        if (opt.stdin_data != nullptr && pipe(feed) != 0) return {};
        const pid_t pid = fork();
        if (pid == 0) {
            if (chdir(dir_.c_str()) != 0) _exit(120);
            const int o = open(out_file.c_str(),
                               O_WRONLY | O_CREAT | (opt.stdout_before ? O_APPEND : O_TRUNC), 0666);
            const int e = open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
            dup2(o, 1);
            dup2(e, 2);
            if (feed[0] >= 0) {
                dup2(feed[0], 0);
                close(feed[1]);
            }
            const rlimit limit{opt.max_file_size, opt.max_file_size};
            setrlimit(RLIMIT_FSIZE, &limit);
            signal(SIGXFSZ, SIG_IGN);  // so that the write fails instead
            std::vector<char*> args;
            for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
            args.push_back(nullptr);
            execv(Z80DB_EXE, args.data());
            _exit(127);
        }
        if (feed[0] >= 0) {
            close(feed[0]);
            const std::string& data = *opt.stdin_data;
            for (std::size_t done = 0; done < data.size();) {
                const ssize_t n = write(feed[1], data.data() + done, data.size() - done);
                if (n <= 0) break;
                done += static_cast<std::size_t>(n);
            }
            close(feed[1]);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        result r{WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status),
                 read_file(out_file), read_file(err_file)};
        fs::remove(out_file);
        fs::remove(err_file);
        return r;
    }

    result run(const std::vector<std::string>& args, const run_options& opt = {}) {
        std::vector<std::string> argv{"z80db"};
        argv.insert(argv.end(), args.begin(), args.end());
        return run_argv(argv, opt);
    }

    // What the folder holds besides what the test put there, by name.
    std::vector<std::string> files() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }

    void expect_success(const result& r) {
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "");
    }

    void expect_failure(const result& r, const std::string& message) {
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "z80db: " + message + "\n");
    }

    fs::path dir_;
};

TEST_F(Cli, UsageForAnyOtherArgumentCount) {
    const std::vector<std::vector<std::string>> cases = {
        {"z80db"},
        {"z80db", "a.bin"},
        {"z80db", "a.bin", "b.z80", "c"},
        {"/usr/local/bin/z80db", "-h"},
        {"./tools/z80db"},
        {"", "a.bin"},
    };
    write_file(dir_ / "a.bin", "data");
    for (const auto& argv : cases) {
        const result r = run_argv(argv);
        const std::string name = argv[0].empty() ? "z80db" : argv[0];
        EXPECT_EQ(r.status, 255);
        EXPECT_EQ(r.out, name + usage_tail);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(files(), std::vector<std::string>{"a.bin"});
    }
}

TEST_F(Cli, UsageWithoutArgumentZero) {
    // Linux may hand the program an empty argument 0 in place of none.
    const result r = run_argv({});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, "z80db" + usage_tail);
}

TEST_F(Cli, ConvertsAFile) {
    write_file(dir_ / "ten.bin", std::string("\x00\x0a\x10\x7f\x80\xff\x01\x02\x03\x1a", 10));
    expect_success(run({"ten.bin", "ten.z80"}));
    EXPECT_EQ(read_file(dir_ / "ten.z80"),
              "; Original Datas : ten.bin\n\tdb\t#0,#a,#10,#7f,#80,#ff,#1,#2\n\tdb\t#3,#1a\n");
}

TEST_F(Cli, EmptyInputGivesTheHeaderAlone) {
    write_file(dir_ / "empty.bin", "");
    expect_success(run({"empty.bin", "empty.z80"}));
    EXPECT_EQ(read_file(dir_ / "empty.z80"), "; Original Datas : empty.bin\n");
}

TEST_F(Cli, ReplacesAllOfAnExistingOutput) {
    write_file(dir_ / "a.bin", "\x01");
    write_file(dir_ / "a.z80", std::string(5000, 'x'));
    expect_success(run({"a.bin", "a.z80"}));
    EXPECT_EQ(read_file(dir_ / "a.z80"), "; Original Datas : a.bin\n\tdb\t#1\n");
}

TEST_F(Cli, ArgumentsWithADashAreFileNames) {
    write_file(dir_ / "-h", "\x02");
    expect_success(run({"-h", "--out"}));
    EXPECT_EQ(read_file(dir_ / "--out"), "; Original Datas : -h\n\tdb\t#2\n");
}

TEST_F(Cli, HeaderShowsThePathAsTyped) {
    fs::create_directory(dir_ / "my data");
    write_file(dir_ / "my data" / "caf\xc3\xa9.bin", "\x03");
    expect_success(run({"./my data/../my data/caf\xc3\xa9.bin", "out.z80"}));
    EXPECT_EQ(read_file(dir_ / "out.z80"),
              "; Original Datas : ./my data/../my data/caf\xc3\xa9.bin\n\tdb\t#3\n");
}

TEST_F(Cli, ControlCharactersInThePathCannotInjectLines) {
    const std::string name = "x\n\tdb\t#ff\r.bin";
    write_file(dir_ / name, "\x04");
    expect_success(run({name, "out.z80"}));
    EXPECT_EQ(read_file(dir_ / "out.z80"), "; Original Datas : x?\tdb\t#ff?.bin\n\tdb\t#4\n");
}

TEST_F(Cli, MissingInputIsReportedAndTheOutputLeftAlone) {
    expect_failure(run({"missing.bin", "new.z80"}),
                   "cannot open input 'missing.bin': No such file or directory");
    EXPECT_TRUE(files().empty());

    write_file(dir_ / "old.z80", "keep me");
    expect_failure(run({"missing.bin", "old.z80"}),
                   "cannot open input 'missing.bin': No such file or directory");
    EXPECT_EQ(read_file(dir_ / "old.z80"), "keep me");
}

TEST_F(Cli, FolderAsInputIsReportedAndTheOutputLeftAlone) {
    fs::create_directory(dir_ / "folder");
    expect_failure(run({"folder", "out.z80"}), "cannot read input 'folder': Is a directory");
    EXPECT_EQ(files(), std::vector<std::string>{"folder"});
}

TEST_F(Cli, OutputThatCannotBeOpenedIsReported) {
    write_file(dir_ / "a.bin", "\x05");
    fs::create_directory(dir_ / "folder");
    expect_failure(run({"a.bin", "nowhere/a.z80"}),
                   "cannot open output 'nowhere/a.z80': No such file or directory");
    expect_failure(run({"a.bin", "folder"}), "cannot open output 'folder': Is a directory");
    EXPECT_EQ(read_file(dir_ / "a.bin"), "\x05");
}

TEST_F(Cli, ReadFaultRemovesTheIncompleteOutput) {
    // Reading a process's memory from address 0 fails with an I/O error.
    expect_failure(run({"/proc/self/mem", "out.z80"}),
                   "cannot read input '/proc/self/mem': Input/output error");
    EXPECT_TRUE(files().empty());
}

TEST_F(Cli, WriteFailureIsReported) {
    write_file(dir_ / "a.bin", random_data(1000, 1));
    expect_failure(run({"a.bin", "/dev/full"}),
                   "cannot write output '/dev/full': No space left on device");
}

TEST_F(Cli, WriteFailureRemovesTheIncompleteOutput) {
    // Past the largest size the process may write, a write fails part-way.
    write_file(dir_ / "big.bin", random_data(200'000, 2));
    run_options opt;
    opt.max_file_size = 100'000;
    expect_failure(run({"big.bin", "big.z80"}, opt),
                   "cannot write output 'big.z80': File too large");
    EXPECT_EQ(files(), std::vector<std::string>{"big.bin"});

    // Through a symbolic link, the file it points to goes and the link stays.
    fs::create_symlink("real.z80", dir_ / "link.z80");
    expect_failure(run({"big.bin", "link.z80"}, opt),
                   "cannot write output 'link.z80': File too large");
    EXPECT_EQ(files(), (std::vector<std::string>{"big.bin", "link.z80"}));
    EXPECT_TRUE(fs::is_symlink(dir_ / "link.z80"));
}

TEST_F(Cli, StandardOutputKeepsWhatItHolds) {
    // Written where the shell's redirection points, after what is there already.
    write_file(dir_ / "a.bin", "\x06");
    run_options opt;
    opt.stdout_before = "earlier output\n";
    const result r = run({"a.bin", "/dev/stdout"}, opt);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "earlier output\n; Original Datas : a.bin\n\tdb\t#6\n");

    // A failed listing there is reported, and neither the redirected file nor
    // /dev/stdout itself is removed.
    write_file(dir_ / "big.bin", random_data(200'000, 2));
    opt.max_file_size = 100'000;
    const result failed = run({"big.bin", "/dev/stdout"}, opt);
    EXPECT_EQ(failed.status, 1);
    EXPECT_EQ(failed.err, "z80db: cannot write output '/dev/stdout': File too large\n");
    EXPECT_EQ(failed.out.substr(0, 15), "earlier output\n");
    EXPECT_TRUE(fs::is_symlink("/dev/stdout"));
}

TEST_F(Cli, RefusesToOverwriteItsInput) {
    const std::string data = random_data(100, 3);
    write_file(dir_ / "a.bin", data);
    fs::create_directory(dir_ / "sub");
    fs::create_symlink("../a.bin", dir_ / "sub" / "link.bin");
    fs::create_hard_link(dir_ / "a.bin", dir_ / "hard.bin");
    const std::vector<std::string> outputs = {"a.bin", "./a.bin", "sub/../a.bin", "sub/link.bin",
                                              "hard.bin"};
    for (const auto& out : outputs) {
        expect_failure(run({"a.bin", out}),
                       "cannot write output '" + out + "': it is the input file");
        EXPECT_EQ(read_file(dir_ / "a.bin"), data) << out;
    }
    // Nor through a standard output that appends to it.
    run_options opt;
    opt.stdout_before = "";
    const result r = run({"/proc/self/fd/1", "/dev/stdout"}, opt);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "z80db: cannot write output '/dev/stdout': it is the input file\n");
}

TEST_F(Cli, ReadsAPipeAndWritesToStandardOutput) {
    const std::string data = random_data(300'000, 4);
    run_options opt;
    opt.stdin_data = &data;
    const result piped = run({"/dev/stdin", "/dev/stdout"}, opt);
    EXPECT_EQ(piped.status, 0);
    EXPECT_EQ(piped.err, "");

    write_file(dir_ / "data.bin", data);
    expect_success(run({"data.bin", "data.z80"}));
    const std::string from_file = read_file(dir_ / "data.z80");
    const std::string header = "; Original Datas : ";
    EXPECT_EQ(piped.out, header + "/dev/stdin" + from_file.substr(header.size() + 8));
}

// The listing assembles back to exactly the input's bytes.
class RoundTrip : public Cli {
  protected:
    void check(const std::string& data) {
        write_file(dir_ / "in.bin", data);
        expect_success(run({"in.bin", "in.z80"}));
        const std::string command = std::string(PASMO_EXE) + " --bin " +
                                    (dir_ / "in.z80").string() + " " +
                                    (dir_ / "back.bin").string() + " >/dev/null";
        ASSERT_EQ(std::system(command.c_str()), 0) << read_file(dir_ / "in.z80");
        EXPECT_EQ(read_file(dir_ / "back.bin"), data) << data.size();
    }
};

TEST_F(RoundTrip, ThroughTheAssembler) {
    if (std::string(PASMO_EXE).empty()) GTEST_SKIP() << "pasmo is not installed";
    std::string all;
    for (int v = 0; v < 256; ++v) all += static_cast<char>(v);
    check(all);
    for (std::size_t n : {1, 7, 8, 9, 15, 16, 17}) check(random_data(n, static_cast<unsigned>(n)));
    check(random_data(40'000, 5));
}

}  // namespace
