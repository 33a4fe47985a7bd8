// The cost of the check stage on one image: the JPEG header pre-check at
// every FF D8, and the checker over every item that hound reported (its
// JSON lines on stdin), on one thread. Prints the CPU seconds of each (not
// wall time: the machine may be shared), for comparison with hound's CPU
// time on the same image.
//
// Usage: hound scan IMAGE --json | check_cost IMAGE
#include <ctime>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "host/check/formats.h"
#include "host/base/mapped_file.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: hound scan IMAGE --json | check_cost IMAGE\n");
        return 2;
    }
    MappedFile image;
    std::string error;
    if (!image.Open(argv[1], &error)) {
        std::fprintf(stderr, "check_cost: %s\n", error.c_str());
        return 1;
    }
    const uint8_t* data = image.data();
    const uint64_t size = image.size();
    auto cpu_now = [] {
        timespec now;
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
        return static_cast<double>(now.tv_sec) + now.tv_nsec * 1e-9;
    };

    // The FF D8 pairs are found first: hound's candidate search does that
    // part, not the check stage.
    std::vector<uint64_t> pairs;
    for (uint64_t at = 0; at + 1 < size; ++at) {
        const void* hit = std::memchr(data + at, 0xFF, size - 1 - at);
        if (hit == nullptr) break;
        at = static_cast<const uint8_t*>(hit) - data;
        if (data[at + 1] == 0xD8) pairs.push_back(at);
    }
    const uint8_t jpeg = FindFormat("jpeg");
    const double pre_start = cpu_now();
    uint64_t passed = 0;
    for (const uint64_t at : pairs) passed += FormatMayStart(jpeg, {data + at, size - at});
    const double pre_seconds = cpu_now() - pre_start;

    uint64_t items = 0;
    double check_seconds = 0;
    struct Cost {
        uint64_t items = 0, bytes = 0;
        double seconds = 0;
    };
    std::map<std::string, Cost> by_format;
    std::string line;
    while (std::getline(std::cin, line)) {
        const uint64_t offset = nlohmann::json::parse(line).at("offset").get<uint64_t>();
        if (offset >= size) continue;
        const double start = cpu_now();
        const CheckResult result = CheckItem({data + offset, size - offset});
        const double seconds = cpu_now() - start;
        check_seconds += seconds;
        ++items;
        Cost& cost = by_format[result.format != kNoFormat ? FormatName(result.format) : "none"];
        ++cost.items;
        cost.bytes += result.end;
        cost.seconds += seconds;
    }
    std::printf("ff_d8_pairs %llu header_passed %llu precheck_s %.3f items %llu check_s %.3f\n",
                static_cast<unsigned long long>(pairs.size()), static_cast<unsigned long long>(passed),
                pre_seconds, static_cast<unsigned long long>(items), check_seconds);
    // Where the checkers' time goes: one line per format, with the bytes of
    // its valid items.
    for (const auto& [format, cost] : by_format) {
        std::printf("format %s items %llu bytes %llu check_s %.3f\n", format.c_str(),
                    static_cast<unsigned long long>(cost.items),
                    static_cast<unsigned long long>(cost.bytes), cost.seconds);
    }
    return 0;
}
