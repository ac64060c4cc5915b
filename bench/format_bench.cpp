// Throughput of the formatting core, in input bytes per second: each line kernel
// on its own, and whole listings written to a sink that drops them.
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "kernels.hpp"
#include "z80db/listing.hpp"

namespace {

std::vector<unsigned char> random_bytes(std::size_t n) {
    std::mt19937 gen(1);
    std::vector<unsigned char> data(n);
    for (auto& b : data) b = static_cast<unsigned char>(gen());
    return data;
}

void line_kernel(benchmark::State& state, z80db::detail::line_kernel run) {
    const auto data = random_bytes(64 * 1024);
    std::string text(z80db::listing_formatter::max_text_size(data.size()), '\0');
    for (auto _ : state) {
        benchmark::DoNotOptimize(run(data.data(), data.size() / 8, text.data(), false));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data.size()));
}

// The same block handed out again and again, as a fast file would.
class repeat_source final : public z80db::byte_source {
  public:
    repeat_source(const std::vector<unsigned char>& block, std::size_t total)
        : block_(block), left_(total) {}
    std::size_t read(unsigned char* buf, std::size_t n) override {
        n = std::min({n, block_.size(), left_});
        std::copy_n(block_.begin(), n, buf);
        left_ -= n;
        return n;
    }

  private:
    const std::vector<unsigned char>& block_;
    std::size_t left_;
};

class null_sink final : public z80db::text_sink {
  public:
    void write(const char* text, std::size_t n) override {
        benchmark::DoNotOptimize(text);
        benchmark::DoNotOptimize(n);
    }
};

void whole_listing(benchmark::State& state) {
    const auto block = random_bytes(64 * 1024);
    const auto total = static_cast<std::size_t>(state.range(0));
    for (auto _ : state) {
        repeat_source in(block, total);
        null_sink out;
        z80db::write_listing(in, out, "input.bin");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * total));
}
BENCHMARK(whole_listing)->Arg(4096)->Arg(16 << 20);

const bool registered = [] {
    for (const auto& k : z80db::detail::available_kernels()) {
        benchmark::RegisterBenchmark((std::string("line_kernel/") + k.name).c_str(), line_kernel,
                                     k.run);
    }
    return true;
}();

}  // namespace
