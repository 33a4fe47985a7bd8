// Gate matching with Hyperscan. A gate becomes a fixed-length pattern from
// its lowest tested offset on, the bytes in between matching anything, up
// to the first wide gap; the pattern's id says how far its end lies from the
// position, and which tests beyond that gap the match callback checks.
#include "host/scan/gate_matcher.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <new>
#include <string>
#include <utility>

#ifdef HOUND_HAVE_HYPERSCAN
#include <hs.h>
#endif

#ifdef HOUND_HAVE_HYPERSCAN

namespace {

// One scratch space per thread, grown for every database the thread uses
// and freed when the thread ends.
struct ThreadScratch {
    hs_scratch_t* scratch = nullptr;
    ~ThreadScratch() {
        if (scratch != nullptr) hs_free_scratch(scratch);
    }
};

// Hyperscan searches a bounded repeat of "any byte" slowly once it is wide
// (a transport stream's sync bytes 188 bytes apart made the search four
// times slower); tests beyond a wider gap are checked on each match.
constexpr uint32_t kMaxPatternGap = 16;

// The pattern of a gate, or "" for a gate that can never pass (two tests of
// one offset with different values). *end_offset gets the highest offset
// that the pattern covers, *later the tests beyond it.
std::string GatePattern(const Gate& gate, uint32_t* end_offset, std::vector<ByteTest>* later) {
    std::vector<ByteTest> tests(gate.tests, gate.tests + gate.count);
    std::sort(tests.begin(), tests.end(), [](const ByteTest& a, const ByteTest& b) {
        return a.offset < b.offset || (a.offset == b.offset && a.value < b.value);
    });
    std::string pattern;
    char escaped[8];
    for (size_t t = 0; t < tests.size(); ++t) {
        if (t > 0 && tests[t].offset == tests[t - 1].offset) {
            if (tests[t].value != tests[t - 1].value) return "";
            continue;
        }
        if (t > 0 && !later->empty()) {
            later->push_back(tests[t]);
            continue;
        }
        if (t > 0) {
            const uint32_t gap = tests[t].offset - tests[t - 1].offset - 1;
            if (gap > kMaxPatternGap) {
                later->push_back(tests[t]);
                continue;
            }
            if (gap > 0) pattern += ".{" + std::to_string(gap) + "}";
        }
        std::snprintf(escaped, sizeof escaped, "\\x%02x", tests[t].value);
        pattern += escaped;
        *end_offset = tests[t].offset;
    }
    return pattern;
}

// What a pattern stands for: the highest offset it covers, the tests of its
// gate beyond that, and the plug-ins that the gate lets answer.
struct PatternInfo {
    uint32_t end_offset;
    std::vector<ByteTest> later;
    uint64_t mask;
};

struct MatchContext {
    const std::vector<PatternInfo>* patterns;
    const uint8_t* bytes;  // the byte at position p is bytes[p]
    uint64_t base;   // data position of the block's first byte
    uint64_t begin;  // positions before it belong to an earlier search
    uint64_t end;
    std::vector<GateMatcher::Hit>* hits;
};

int OnMatch(unsigned int id, unsigned long long, unsigned long long to, unsigned int,
            void* context) {
    auto* match = static_cast<MatchContext*>(context);
    const PatternInfo& pattern = (*match->patterns)[id];
    // The pattern's last byte is at position + end offset = base + to - 1.
    const uint64_t last = match->base + to - 1;
    if (last < pattern.end_offset) return 0;
    const uint64_t position = last - pattern.end_offset;
    if (position < match->begin || position >= match->end) return 0;
    for (const ByteTest& test : pattern.later) {
        if (match->bytes[position + test.offset] != test.value) return 0;
    }
    match->hits->push_back({position, pattern.mask});
    return 0;
}

}  // namespace

struct GateMatcher::Database {
    hs_database_t* database = nullptr;
    std::vector<PatternInfo> patterns;  // by pattern id
    uint32_t min_start_offset = 0;      // the lowest offset any gate tests
    ~Database() {
        if (database != nullptr) hs_free_database(database);
    }
};

std::unique_ptr<GateMatcher> GateMatcher::Make(const std::vector<Entry>& entries) {
    if (hs_valid_platform() != HS_SUCCESS) return nullptr;
    auto database = std::make_unique<Database>();
    // Gates of one pattern and the same later tests, in one filter or
    // several, share its id.
    std::map<std::pair<std::string, std::string>, size_t> pattern_ids;
    std::vector<std::string> patterns;
    uint32_t max_offset = 0;
    uint32_t min_start = UINT32_MAX;
    for (const Entry& entry : entries) {
        uint32_t end_offset = 0;
        std::vector<ByteTest> later;
        std::string pattern = GatePattern(entry.gate, &end_offset, &later);
        if (pattern.empty()) continue;
        std::string key = std::to_string(end_offset);
        for (const ByteTest& test : later) {
            key += "," + std::to_string(test.offset) + "=" + std::to_string(test.value);
        }
        const auto [known, added] = pattern_ids.insert({{pattern, key}, patterns.size()});
        if (!added) {
            database->patterns[known->second].mask |= entry.mask;
            continue;
        }
        patterns.push_back(std::move(pattern));
        database->patterns.push_back({end_offset, std::move(later), entry.mask});
        for (uint32_t t = 0; t < entry.gate.count; ++t) {
            min_start = std::min(min_start, entry.gate.tests[t].offset);
            max_offset = std::max(max_offset, entry.gate.tests[t].offset);
        }
    }
    if (patterns.empty()) return nullptr;
    database->min_start_offset = min_start;

    std::vector<const char*> expressions;
    std::vector<unsigned> flags(patterns.size(), HS_FLAG_DOTALL);
    std::vector<unsigned> ids(patterns.size());
    for (size_t i = 0; i < patterns.size(); ++i) {
        expressions.push_back(patterns[i].c_str());
        ids[i] = static_cast<unsigned>(i);
    }
    hs_compile_error_t* error = nullptr;
    if (hs_compile_multi(expressions.data(), flags.data(), ids.data(),
                         static_cast<unsigned>(patterns.size()), HS_MODE_BLOCK, nullptr,
                         &database->database, &error) != HS_SUCCESS) {
        // The plain search serves instead; it finds the same positions.
        hs_free_compile_error(error);
        return nullptr;
    }
    return std::unique_ptr<GateMatcher>(new GateMatcher(std::move(database), max_offset));
}

void GateMatcher::Find(const uint8_t* bytes, uint64_t begin, uint64_t end,
                       std::vector<Hit>* hits) const {
    hits->clear();
    if (begin >= end) return;
    thread_local ThreadScratch scratch;
    if (hs_alloc_scratch(database_->database, &scratch.scratch) != HS_SUCCESS) {
        throw std::bad_alloc();
    }
    // The block holds every byte that a gate tests at the positions
    // [begin, end). hs_scan takes lengths below 4 GiB; the callers' windows
    // are far smaller.
    const uint64_t block_begin = begin + database_->min_start_offset;
    const uint64_t block_end = end + max_offset_;
    MatchContext context{&database_->patterns, bytes, block_begin, begin, end, hits};
    hs_scan(database_->database, reinterpret_cast<const char*>(bytes + block_begin),
            static_cast<unsigned>(block_end - block_begin), 0, scratch.scratch, OnMatch, &context);
    // Matches come in the order of their ends; gates of other lengths and
    // several gates at one position make them unordered and repeated.
    std::sort(hits->begin(), hits->end(),
              [](const Hit& a, const Hit& b) { return a.position < b.position; });
    size_t kept = 0;
    for (const Hit& hit : *hits) {
        if (kept > 0 && (*hits)[kept - 1].position == hit.position) {
            (*hits)[kept - 1].mask |= hit.mask;
        } else {
            (*hits)[kept++] = hit;
        }
    }
    hits->resize(kept);
}

GateMatcher::GateMatcher(std::unique_ptr<Database> database, uint32_t max_offset)
    : database_(std::move(database)), max_offset_(max_offset) {}

GateMatcher::~GateMatcher() = default;

#else  // no Hyperscan: the plain search of CandidateSearch serves.

struct GateMatcher::Database {};

std::unique_ptr<GateMatcher> GateMatcher::Make(const std::vector<Entry>&) { return nullptr; }

void GateMatcher::Find(const uint8_t*, uint64_t, uint64_t, std::vector<Hit>* hits) const {
    hits->clear();
}

GateMatcher::GateMatcher(std::unique_ptr<Database> database, uint32_t max_offset)
    : database_(std::move(database)), max_offset_(max_offset) {}

GateMatcher::~GateMatcher() = default;

#endif
