// hound's answers for markhound's bounded signatures are markhound's own: at
// every position of data sown with the library's start and end patterns,
// each answer hound gives equals the plug-in code's, and its remembered
// searches keep data full of headers linear.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <typeinfo>
#include <vector>

#include "host/scan/signature_answers.h"
#include "markhound/database/loader.h"
#include "markhound/signatures/signature_list.h"
#include "tests/fakes/temp_dir.h"
#include "tests/module/module_helpers.h"

namespace {

std::unique_ptr<SignatureList> Library() {
    auto list = std::make_unique<SignatureList>();
    LoadSignatureFile(WindowsPath(BuiltPlugin("signs.ini")).c_str(), *list);
    return list;
}

// The exact bytes of pattern, its wildcards random.
void Sow(const PatternArray& pattern, std::mt19937* random, std::vector<uint8_t>* data) {
    const auto* element = static_cast<const PatternByte*>(pattern.Items());
    for (int32_t k = 0; k < pattern.Count(); ++k) {
        data->push_back(element[k].exact != 0 ? element[k].value : static_cast<uint8_t>((*random)()));
    }
}

TEST(SignatureAnswers, EqualMarkhoundsAnswersAtEveryPosition) {
    const std::unique_ptr<SignatureList> list = Library();
    ASSERT_GT(list->Count(), 0);
    // The library's patterns, start and end, sown among random bytes; the
    // data ends in headers without an end.
    std::vector<const PatternArray*> patterns;
    for (int32_t i = 0; i < list->Count(); ++i) {
        const SizedSignature* signature = list->Signature(i);
        if (signature == nullptr) continue;
        patterns.push_back(&signature->pattern);
        if (const auto* bounded = dynamic_cast<const BoundedSignature*>(signature)) {
            if (bounded->end_pattern.Count() > 0) patterns.push_back(&bounded->end_pattern);
        }
    }
    std::mt19937 random(7);
    std::vector<uint8_t> bytes;
    for (int round = 0; round < 600; ++round) {
        for (uint32_t n = random() % 40; n > 0; --n) bytes.push_back(static_cast<uint8_t>(random()));
        Sow(*patterns[random() % patterns.size()], &random, &bytes);
    }
    for (int i = 0; i < 200; ++i) bytes.insert(bytes.end(), {'G', 'I', 'F', '8', '9', 'a'});

    const MappedData data{bytes.data(), bytes.size()};
    const HostReader reader = MakeReader(&data);
    const SignatureAnswers answers(Library());
    SignatureAnswers::Memo memo;
    size_t given = 0;
    for (uint64_t position = 0; position < bytes.size(); ++position) {
        FoundItem ours{}, theirs{};
        if (!answers.Answer(data, position, &memo, &ours)) continue;
        ++given;
        ASSERT_EQ(DetectWithList(*list, &reader, position, &theirs), 1u) << position;
        EXPECT_EQ(ours.offset, theirs.offset) << position;
        EXPECT_EQ(ours.size, theirs.size) << position;
        EXPECT_STREQ(ours.extension, theirs.extension) << position;
        EXPECT_STREQ(ours.description, theirs.description) << position;
    }
    EXPECT_GT(given, 300u);
}

// A list hound read differently from the plug-in's gives no answers: the
// key tells two lists apart by any field.
TEST(SignatureAnswers, KeyTellsListsApart) {
    const std::unique_ptr<SignatureList> a = Library(), b = Library();
    EXPECT_EQ(SignatureListKey(*a), SignatureListKey(*b));
    for (int32_t i = 0; i < b->Count(); ++i) {
        auto* bounded = dynamic_cast<BoundedSignature*>(b->Signature(i));
        if (bounded == nullptr) continue;
        ++bounded->end_offset;
        EXPECT_NE(SignatureListKey(*a), SignatureListKey(*b));
        return;
    }
    FAIL() << "the library has no bounded signature";
}

}  // namespace
