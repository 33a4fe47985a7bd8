// The record check, and loading through PluginSet.
#include <gtest/gtest.h>

#include <sstream>

#include "host/base/diagnostics.h"
#include "host/scan/plugins.h"
#include "tests/host/host_helpers.h"
#include "tests/module/module_helpers.h"

namespace {

uint32_t KX_CALL One(uint32_t, uint32_t) { return 1; }
void KX_CALL None(uint32_t) {}
uint32_t KX_CALL No(uint32_t, const HostReader*, uint64_t, FoundItem*) { return 0; }

TEST(RecordCheck, MagicVersionAndSlots) {
    const PluginInterface good = {{'K', 'X'}, 0x0100, 0, &One, &None, &None, &None, &No, 0};
    EXPECT_EQ(CheckRecord(&good), "");
    EXPECT_EQ(CheckRecord(nullptr), "KX_QueryInterface returned no record");

    const struct {
        PluginInterface record;
        std::string expected;
    } rows[] = {
        {{{'K', 'Y'}, 0x0100, 0, &One, &None, &None, &None, &No, 0},
         "wrong magic 'KY' in its record (expected 'KX')"},
        {{{'X', 'K'}, 0x0100, 0, &One, &None, &None, &None, &No, 0},
         "wrong magic 'XK' in its record (expected 'KX')"},
        {{{'K', 'X'}, 0x0200, 0, &One, &None, &None, &None, &No, 0},
         "interface version 0x0200 in its record (expected 0x0100)"},
        {{{'K', 'X'}, 0x0001, 0, &One, &None, &None, &None, &No, 0},
         "interface version 0x0001 in its record (expected 0x0100)"},
        {{{'K', 'X'}, 0x0100, 0, nullptr, &None, &None, &None, &No, 0}, "its record has no Initialize"},
        {{{'K', 'X'}, 0x0100, 0, &One, nullptr, &None, &None, &No, 0}, "its record has no Finalize"},
        {{{'K', 'X'}, 0x0100, 0, &One, &None, &None, &None, nullptr, 0}, "its record has no Detect"},
        {{{'K', 'X'}, 0x0100, 7, &One, &None, nullptr, nullptr, &No, 9}, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.expected);
        EXPECT_EQ(CheckRecord(&row.record), row.expected);
    }
}

struct Loaded {
    std::ostringstream err;
    Diagnostics diag{err};
    PluginSet set;
};

TEST(PluginLoading, InitializeAnsweringZeroGivesOneNoteAndAnInactivePlugin) {
    TempDir dir;
    PluginFolder(dir.path(), {"probe", "probe_idle"});
    Loaded loaded;
    loaded.set.Load(dir.path(), {"probe_idle", "probe"}, loaded.diag);
    loaded.set.Initialize(loaded.diag);
    loaded.set.Initialize(loaded.diag);  // once only
    ASSERT_EQ(loaded.set.plugins().size(), 2u);
    EXPECT_FALSE(loaded.set.plugins()[0].active);
    EXPECT_TRUE(loaded.set.plugins()[1].active);
    EXPECT_EQ(loaded.set.ActiveCount(), 1u);
    EXPECT_EQ(loaded.diag.error_count(), 0);
    EXPECT_EQ(Lines(loaded.err.str()),
              (std::vector<std::string>{"hound: note: probe_idle answered Initialize with 0 (nothing "
                                        "to detect with); it is not asked"}));
    loaded.set.Unload();
    EXPECT_TRUE(loaded.set.plugins().empty());
}

}  // namespace
