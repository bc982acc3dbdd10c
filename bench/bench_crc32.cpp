// bench_crc32.cpp: the builder's CRC-32 against zlib's crc32 on the same buffers.
#include "builder/crc.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>
#include <zlib.h>

namespace {

std::vector<unsigned char> RandomBytes(std::size_t n) {
    std::mt19937_64 rng(42);
    std::vector<unsigned char> bytes(n);
    for (auto& b : bytes) {
        b = static_cast<unsigned char>(rng());
    }
    return bytes;
}

void SetBytes(benchmark::State& state, std::size_t size) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(size));
}

void BM_Crc32Update(benchmark::State& state) {
    const auto size = static_cast<std::size_t>(state.range(0));
    const auto data = RandomBytes(size);
    for (auto _ : state) {
        benchmark::DoNotOptimize(kelpforge::Crc32Update(kelpforge::kCrc32Start, data.data(), size));
    }
    SetBytes(state, size);
}

void BM_ZlibCrc32(benchmark::State& state) {
    const auto size = static_cast<std::size_t>(state.range(0));
    const auto data = RandomBytes(size);
    for (auto _ : state) {
        benchmark::DoNotOptimize(crc32(0L, data.data(), static_cast<uInt>(size)));
    }
    SetBytes(state, size);
}

#define CRC_SIZES Arg(16)->Arg(256)->Arg(4 << 10)->Arg(64 << 10)->Arg(1 << 20)->Arg(16 << 20)
BENCHMARK(BM_Crc32Update)->CRC_SIZES;
BENCHMARK(BM_ZlibCrc32)->CRC_SIZES;

// The build run's path: a file in the page cache read in 64 KiB blocks.
void BM_FileCrc32(benchmark::State& state) {
    const auto size = static_cast<std::size_t>(state.range(0));
    const auto path = (std::filesystem::temp_directory_path() / "velmoran-bench-crc.bin").string();
    {
        const auto data = RandomBytes(size);
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(size));
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(kelpforge::FileCrc32(path));
    }
    SetBytes(state, size);
    std::remove(path.c_str());
}
BENCHMARK(BM_FileCrc32)->Arg(64 << 20)->Unit(benchmark::kMillisecond);

} // namespace
