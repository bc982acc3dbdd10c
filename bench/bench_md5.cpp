// bench_md5.cpp: MD5 throughput over memory and over a mapped file.
#include "updater/codecs/md5.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace {

std::vector<unsigned char> RandomBytes(std::size_t n) {
    std::mt19937_64 rng(42);
    std::vector<unsigned char> bytes(n);
    for (auto& b : bytes) {
        b = static_cast<unsigned char>(rng());
    }
    return bytes;
}

void BM_MD5Update(benchmark::State& state) {
    const auto size = static_cast<std::size_t>(state.range(0));
    const auto data = RandomBytes(size);
    for (auto _ : state) {
        velmoran::MD5Context context;
        velmoran::MD5Init(context);
        velmoran::MD5Update(context, data.data(), static_cast<std::uint32_t>(size));
        velmoran::MD5Digest digest;
        velmoran::MD5Final(context, digest);
        benchmark::DoNotOptimize(digest);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(size));
}
BENCHMARK(BM_MD5Update)->Arg(64)->Arg(1 << 10)->Arg(64 << 10)->Arg(1 << 20)->Arg(16 << 20);

// The update run's path: a file in the page cache, mapped and digested whole.
void BM_MD5HashFile(benchmark::State& state) {
    const auto size = static_cast<std::size_t>(state.range(0));
    const auto path = (std::filesystem::temp_directory_path() / "velmoran-bench-md5.bin").string();
    {
        const auto data = RandomBytes(size);
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(size));
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(velmoran::MD5HashFile(path));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(size));
    std::remove(path.c_str());
}
BENCHMARK(BM_MD5HashFile)->Arg(1 << 20)->Arg(64 << 20)->Unit(benchmark::kMillisecond);

} // namespace
