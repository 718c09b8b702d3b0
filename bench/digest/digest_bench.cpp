// Throughput of CSHA256 against OpenSSL's SHA-256 over the same bytes. CSHA256 digests the low
// byte of each UTF-16 code unit, so OpenSSL gets exactly those bytes. Before timing, both digests
// of each text are compared: a benchmark of a wrong digest would measure nothing.
#include "crypto/CSHA256.h"

#include <benchmark/benchmark.h>
#include <openssl/sha.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// Printable texts of a given length from a small linear congruential generator.
std::u16string makeText(std::size_t length) {
    std::u16string text(length, u' ');
    std::uint32_t state = 12345;
    for (auto& unit : text) {
        state = state * 1103515245u + 12345u;
        unit = static_cast<char16_t>(0x20 + (state >> 16) % 0x5F);
    }
    return text;
}

std::string lowBytes(const std::u16string& text) {
    std::string bytes(text.size(), '\0');
    for (std::size_t i = 0; i < text.size(); ++i) {
        bytes[i] = static_cast<char>(text[i] & 0xFF);
    }
    return bytes;
}

std::string opensslHex(const std::string& bytes) {
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), digest);
    std::string hex;
    char pair[3];
    for (unsigned char byte : digest) {
        std::snprintf(pair, sizeof pair, "%02x", byte);
        hex += pair;
    }
    return hex;
}

void checkSame(std::size_t length) {
    const auto text = makeText(length);
    const auto ours = varnek::CSHA256().SHA256(text);
    const auto theirs = opensslHex(lowBytes(text));
    if (ours != theirs) {
        std::fprintf(stderr, "digests differ for %zu bytes: %s vs %s\n", length, ours.c_str(),
                     theirs.c_str());
        std::exit(1);
    }
}

void BM_CSHA256(benchmark::State& state) {
    const auto text = makeText(static_cast<std::size_t>(state.range(0)));
    const varnek::CSHA256 sha;
    for (auto _ : state) {
        benchmark::DoNotOptimize(sha.SHA256(text));
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_OpenSSL(benchmark::State& state) {
    const auto bytes = lowBytes(makeText(static_cast<std::size_t>(state.range(0))));
    unsigned char digest[SHA256_DIGEST_LENGTH];
    for (auto _ : state) {
        SHA256(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), digest);
        benchmark::DoNotOptimize(digest);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

constexpr long kKiB = 1024;
constexpr long kMiB = 1024 * kKiB;

BENCHMARK(BM_CSHA256)->Arg(64 * kKiB)->Arg(kMiB)->Arg(4 * kMiB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenSSL)->Arg(64 * kKiB)->Arg(kMiB)->Arg(4 * kMiB)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    for (std::size_t length : {std::size_t{0}, std::size_t{55}, std::size_t{64}, std::size_t{1000},
                               std::size_t{64 * kKiB + 3}}) {
        checkSame(length);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
