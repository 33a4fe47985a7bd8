// Reload steps: the path of signs.ini beside the module, and the list
// emptied before every load.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "markhound/database/reload.h"
#include "markhound/support/paths.h"

namespace {

TEST(BuildSignsPath, NullModuleMeansBesideTheHostProgram) {
    char path[kMaxPath + 1];
    ASSERT_TRUE(BuildSignsPath(nullptr, path));
    const std::string text = path;
    EXPECT_EQ(IsAbsolutePath(path), 1);
    ASSERT_GT(text.size(), std::strlen("\\signs.ini"));
    EXPECT_EQ(text.substr(text.size() - 10), "\\signs.ini");
    EXPECT_NE(text.find("\\tests\\signs.ini"), std::string::npos);  // the test program's folder
}

TEST(ReloadSignatures, EmptiesTheListEvenWhenNoFileIsFound) {
    SignatureList list;
    auto* signature = new SizedSignature;
    PatternByte element{1, 1};
    signature->pattern.Add(&element);
    list.Append(signature);
    ReloadSignatures(list, nullptr);  // no signs.ini beside the test program
    EXPECT_EQ(list.Count(), 0);
}

}  // namespace
