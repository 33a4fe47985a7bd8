// Candidate filters: the gates of each plug-in's rules, markhound's read
// from the file that the plug-in itself reads, and the search for the
// positions where some gate passes.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "host/known_plugins.h"
#include "host/scan/candidates.h"
#include "host/scan/filters.h"
#include "markhound/database/loader.h"
#include "markhound/signatures/signature_list.h"
#include "tests/fakes/temp_dir.h"
#include "tests/module/module_helpers.h"

namespace {

CandidateFilter FilterOf(const TempDir& dir, const std::string& signs) {
    dir.Write("signs.ini", signs);
    SignatureList list;
    LoadSignatureFile(dir.Windows("signs.ini").c_str(), list);
    return SignatureFilter(list);
}

TEST(SignatureFilter, GateOfEachSignatureTestsItsFirstFourExactElements) {
    const struct {
        const char* what;
        const char* signs;
        bool everywhere;
        std::vector<Gate> gates;
    } rows[] = {
        {"first elements exact", "[A]\nSignature='B,'M,?,?,0\nSizeSize=4\n", false,
         {{{{0, 'B'}, {1, 'M'}, {4, 0}}, 3}}},
        {"four of five", "[A]\nSignature=1,2,?,3,4,5\nSizeSize=4\n", false,
         {{{{0, 1}, {1, 2}, {3, 3}, {4, 4}}, 4}}},
        {"wildcards first", "[A]\nSignature=?,?,'R,?,'S\nSizeSize=1\n", false,
         {{{{2, 'R'}, {4, 'S'}}, 2}}},
        {"one exact element", "[A]\nSignatureStart=?,7\nSignatureEnd=8\n", false, {{{{1, 7}}, 1}}},
        {"in list order, includes in place",
         "[A]\nSignature=1,2,3\nSizeSize=1\n[I]\nInclude=more.ini\n[B]\nSignature=4\nSizeSize=2\n",
         false, {{{{0, 1}, {1, 2}, {2, 3}}, 3}, {{{0, 9}}, 1}, {{{0, 4}}, 1}}},
        {"a signature of wildcards only matches everywhere",
         "[A]\nSignature=1\nSizeSize=1\n[B]\nSignature=?,?\nSizeSize=1\n", true, {}},
        {"no signature: nowhere", "; empty\n", false, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        TempDir dir;
        dir.Write("more.ini", "[M]\nSignature=9\nSizeSize=1\n");
        const CandidateFilter filter = FilterOf(dir, row.signs);
        EXPECT_EQ(filter.everywhere, row.everywhere);
        if (!row.everywhere) {
            EXPECT_TRUE(filter.gates == row.gates);
        }
    }
}

// markhound's filter comes from the signs.ini beside the loaded module, read
// before and after Initialize; a file changed in between asks everywhere.
TEST(SignatureFilters, ReadsTheSignatureFileBesideTheModuleAroundInitialize) {
    TempDir dir;
    const std::string signs = "[A]\nSignature='P,'K,3,4\nSizeSize=4\n";
    dir.Write("signs.ini", signs);
    LoadedPlugin plugin(CopyFile(BuiltPlugin("markhound.so"), dir.path() + "/markhound.so"));
    const PluginInterface* record = plugin.Record();

    SignatureFilters same;
    same.ReadBeforeInitialize("markhound", plugin.handle());
    ASSERT_EQ(record->Initialize(0, 0), 1u);
    same.ReadAfterInitialize("markhound", plugin.handle());
    const CandidateFilter filter = same.For("markhound");
    EXPECT_FALSE(filter.everywhere);
    EXPECT_TRUE(filter.gates == (std::vector<Gate>{{{{0, 'P'}, {1, 'K'}, {2, 3}, {3, 4}}, 4}}));
    // The JPEG plug-ins' gates are fixed; a plug-in hound does not know has none.
    EXPECT_TRUE(FindKnownPlugin("photohound")->gates() == JpegFilter());
    EXPECT_TRUE(FindKnownPlugin("jpeghound")->gates() == StrictJpegFilter());
    EXPECT_TRUE(FindKnownPlugin("markhound")->reads_signatures);
    EXPECT_EQ(FindKnownPlugin("probe"), nullptr);
    EXPECT_TRUE(same.For("probe").everywhere);

    SignatureFilters changed;
    changed.ReadBeforeInitialize("markhound", plugin.handle());
    dir.Write("signs.ini", signs + "[B]\nSignature='Z\nSizeSize=1\n");
    record->Reload(0);
    changed.ReadAfterInitialize("markhound", plugin.handle());
    EXPECT_TRUE(changed.For("markhound").everywhere);

    SignatureFilters never_initialized;  // no reading after: nothing to compare with
    never_initialized.ReadBeforeInitialize("markhound", plugin.handle());
    EXPECT_TRUE(never_initialized.For("markhound").everywhere);
    record->Finalize(0);
}

// Next from every stride-th position (and up to an end just past it, as
// the scan's chunks ask) finds the first of the candidates from there.
void ExpectNextFindsEveryCandidate(const CandidateSearch& search, const MappedData& data,
                                   uint64_t stride, const std::vector<uint64_t>& candidates) {
    for (uint64_t from = 0; from <= data.size; from += stride) {
        for (uint64_t end : {data.size, std::min(data.size, from + stride + 1)}) {
            const auto hit = std::lower_bound(candidates.begin(), candidates.end(), from);
            const uint64_t expected = hit != candidates.end() && *hit < end ? *hit : end;
            DetectorMask mask = 0;
            const uint64_t next = search.Next(from, end, &mask);
            ASSERT_EQ(next, expected) << "from " << from << " to " << end;
            if (next < end) {
                EXPECT_EQ(mask, search.MaskAt(next));
            }
        }
    }
}

// Next finds the first position with a passing gate, by Hyperscan, the
// vector path (few first bytes) and the table path (many), also near the end
// of the data, where gates read the bytes FF C4 that the reader gives there.
TEST(CandidateSearch, NextIsTheFirstPositionWhereAGatePasses) {
    std::mt19937 random(5);
    for (int round = 0; round < 300; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        std::vector<uint8_t> bytes(1 + random() % 300);
        for (uint8_t& byte : bytes) byte = static_cast<uint8_t>(random() % 40 + (random() % 2) * 0xC4);
        const MappedData data = {bytes.data(), bytes.size()};
        std::vector<CandidateFilter> filters(1 + random() % 3);
        const uint32_t values = 1 + random() % 40;  // beyond 24 the table is used
        for (CandidateFilter& filter : filters) {
            filter.everywhere = false;
            for (uint32_t v = 0; v < values; ++v) {
                Gate gate{};
                gate.count = 1 + random() % Gate::kMaxTests;
                for (uint32_t t = 0; t < gate.count; ++t) {
                    const uint32_t offset = random() % 4;
                    const uint8_t value = static_cast<uint8_t>(random() % 2 ? random() % 40 : 0xC4 + random() % 60);
                    gate.tests[t] = {offset, value};
                    // Tests after the first may be masked.
                    if (t > 0 && random() % 4 == 0) {
                        const uint8_t mask = static_cast<uint8_t>(random());
                        gate.tests[t] = {offset, static_cast<uint8_t>(value & mask), mask, random() % 2 == 0};
                    }
                }
                filter.gates.push_back(gate);
            }
        }
        const CandidateSearch search(&data, filters, false);
        std::vector<uint64_t> candidates;
        for (uint64_t p = 0; p < bytes.size(); ++p) {
            if (search.MaskAt(p) != 0) candidates.push_back(p);
        }
        // Hyperscan's compile takes milliseconds: every tenth round uses it.
        for (bool use_matcher : {false, round % 10 == 0}) {
            const CandidateSearch each(&data, filters, use_matcher);
            ASSERT_TRUE(each.skips());
            ExpectNextFindsEveryCandidate(each, data, 1, candidates);
        }
        // MaskAt against the gates by hand.
        const uint64_t p = random() % bytes.size();
        DetectorMask by_hand = 0;
        for (size_t i = 0; i < filters.size(); ++i) {
            for (const Gate& gate : filters[i].gates) {
                bool passes = true;
                for (uint32_t t = 0; t < gate.count; ++t) {
                    const uint64_t at = p + gate.tests[t].offset;
                    const uint8_t byte = at < bytes.size() ? bytes[at] : PastEndByte(bytes.size(), at);
                    const ByteTest& test = gate.tests[t];
                    passes = passes && (((byte & test.mask) == test.value) != test.differs);
                }
                if (passes) by_hand |= DetectorMask{1} << i;
            }
        }
        EXPECT_EQ(search.MaskAt(p), by_hand);
    }
}

// 1,000 signatures' gates, some led by wildcards (a first test at a later
// offset), over data larger than one window of the matcher: both paths find
// every candidate, from positions and up to ends that are not window edges.
TEST(CandidateSearch, ManyGatesOverLargeData) {
    std::mt19937 random(7);
    std::vector<uint8_t> bytes(320u << 10);
    for (uint8_t& byte : bytes) byte = static_cast<uint8_t>(random());
    const MappedData data = {bytes.data(), bytes.size()};
    std::vector<CandidateFilter> filters(2);
    for (CandidateFilter& filter : filters) {
        filter.everywhere = false;
        for (int g = 0; g < 500; ++g) {
            Gate gate{};
            gate.count = 2;
            const uint32_t lead = random() % 3 == 0 ? static_cast<uint32_t>(random() % 8) : 0;
            gate.tests[0] = {lead, static_cast<uint8_t>(random())};
            gate.tests[1] = {lead + 1 + static_cast<uint32_t>(random() % 4),
                             static_cast<uint8_t>(random())};
            filter.gates.push_back(gate);
        }
    }
    // The candidates, by a table of byte pairs for each pair of offsets.
    std::map<std::pair<uint32_t, uint32_t>, std::vector<bool>> pairs;
    for (const CandidateFilter& filter : filters) {
        for (const Gate& gate : filter.gates) {
            auto& seen = pairs[{gate.tests[0].offset, gate.tests[1].offset}];
            seen.resize(1u << 16);
            seen[gate.tests[0].value << 8 | gate.tests[1].value] = true;
        }
    }
    std::vector<uint64_t> candidates;
    for (uint64_t p = 0; p < bytes.size(); ++p) {
        for (const auto& [offsets, seen] : pairs) {
            const uint64_t first = p + offsets.first, second = p + offsets.second;
            const uint8_t a = first < bytes.size() ? bytes[first] : PastEndByte(bytes.size(), first);
            const uint8_t b = second < bytes.size() ? bytes[second] : PastEndByte(bytes.size(), second);
            if (seen[a << 8 | b]) {
                candidates.push_back(p);
                break;
            }
        }
    }
    for (bool use_matcher : {false, true}) {
        const CandidateSearch search(&data, filters, use_matcher);
        ExpectNextFindsEveryCandidate(search, data, (40u << 10) + 1, candidates);
    }
}

// Rows that differ only in their last byte (searched for by their shared
// prefix), literals of four bytes and shorter ones (two databases), gates at
// far offsets and one shared by two filters, two-byte gates that share
// their first byte (searched for without Hyperscan) with a masked third
// test, over data that holds their bytes here and there, runs of that first
// byte, and up to its end: Hyperscan finds what the plain search finds.
TEST(CandidateSearch, SharedPrefixesAndLongAndShortLiterals) {
    std::mt19937 random(11);
    std::vector<CandidateFilter> filters(2);
    for (CandidateFilter& filter : filters) filter.everywhere = false;
    for (uint8_t last = 0; last < 32; ++last) {
        filters[0].gates.push_back({{{0, 0x1F}, {1, 0x8B}, {2, 0x08}, {3, last}}, 4});
    }
    for (int g = 0; g < 60; ++g) {
        Gate gate{};
        gate.count = 2 + random() % 3;
        const uint32_t lead = g % 5 == 0 ? 300 + random() % 5 : random() % 3;
        for (uint32_t t = 0; t < gate.count; ++t) {
            gate.tests[t] = {lead + (g % 3 == 0 ? 2 * t : t), static_cast<uint8_t>(random() % 8)};
        }
        filters[g % 2].gates.push_back(gate);
    }
    filters[1].gates.push_back(filters[0].gates[5]);
    for (uint32_t second = 0xF0; second <= 0xFF; ++second) {
        const uint8_t mask = second % 2 ? 0x0C : 0x3C;
        filters[1].gates.push_back({{{0, 0xFF}, {1, static_cast<uint8_t>(second)}, {2, mask, mask, true}}, 3});
    }
    // A group with one gate that passes in a run of its first byte.
    for (uint32_t second = 0xE8; second <= 0xEF; ++second) {
        filters[0].gates.push_back({{{0, 0xEE}, {1, static_cast<uint8_t>(second)}, {2, 0, 0x01}}, 3});
    }
    filters[0].gates.push_back({{{0, 0xEE}, {1, 0xEE}, {5, 0x0E, 0x0E}}, 3});
    std::vector<uint8_t> bytes(300u << 10);
    for (uint8_t& byte : bytes) byte = static_cast<uint8_t>(random() % 3 == 0 ? random() % 8 : random());
    for (int i = 0; i < 2000; ++i) {
        const size_t at = random() % (bytes.size() - 4);
        const uint8_t header[4] = {0x1F, 0x8B, 0x08, static_cast<uint8_t>(random() % 40)};
        std::copy(header, header + 4, bytes.begin() + at);
    }
    // Runs of FF and EE, one across the matcher's window edge, one at the end.
    for (int i = 0; i < 200; ++i) {
        const size_t at = i == 0 ? (256u << 10) - 300 : random() % (bytes.size() - 600);
        const uint8_t run = i % 2 ? 0xEE : 0xFF;
        std::fill_n(bytes.begin() + at, random() % 600, run);
        bytes[at + random() % 600] = static_cast<uint8_t>(random() % 2 ? run & 0xF3 : random());
    }
    std::fill(bytes.end() - 40, bytes.end(), 0xFF);
    const MappedData data = {bytes.data(), bytes.size()};
    const CandidateSearch plain(&data, filters, false);
    std::vector<uint64_t> candidates;
    for (uint64_t p = 0; p < bytes.size(); ++p) {
        if (plain.MaskAt(p) != 0) candidates.push_back(p);
    }
    const CandidateSearch search(&data, filters, true);
    ASSERT_TRUE(search.uses_matcher());
    ExpectNextFindsEveryCandidate(search, data, (40u << 10) + 7, candidates);
    ExpectNextFindsEveryCandidate(search, data, 1, candidates);
}

TEST(CandidateSearch, PlugInAskedEverywhereMakesEveryPositionACandidate) {
    const std::vector<uint8_t> bytes(10, 0);
    const MappedData data = {bytes.data(), bytes.size()};
    const CandidateSearch search(&data, {JpegFilter(), CandidateFilter()});
    EXPECT_FALSE(search.skips());
    DetectorMask mask = 0;
    EXPECT_EQ(search.Next(3, 10, &mask), 3u);
    EXPECT_EQ(mask, DetectorMask{2});
}

}  // namespace
