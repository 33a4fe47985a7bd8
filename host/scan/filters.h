// Candidate filters: the positions at which a plug-in may answer yes. The
// scan asks a plug-in only there; everywhere else that plug-in is certain
// to answer 0, so skipping it changes no answer and no output.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class SignatureList;
class SignatureAnswers;

// The byte at position + offset must equal value; or, for a masked test,
// the byte's mask bits must equal value (differs: must not equal it).
struct ByteTest {
    uint32_t offset;
    uint8_t value;
    uint8_t mask = 0xFF;
    bool differs = false;
    bool exact() const { return mask == 0xFF && !differs; }
    bool Holds(uint8_t byte) const { return ((byte & mask) == value) != differs; }
    bool operator==(const ByteTest& other) const {
        return offset == other.offset && value == other.value && mask == other.mask &&
               differs == other.differs;
    }
};

// A position passes a gate when all of its tests hold. The first test is
// exact: the search looks for it.
struct Gate {
    static constexpr uint32_t kMaxTests = 4;
    ByteTest tests[kMaxTests];
    uint32_t count;  // 1 to kMaxTests
    bool operator==(const Gate& other) const;
};

// A plug-in may answer yes at a position only where one of its gates
// passes. An everywhere filter (the default) asks every position; a filter
// without gates asks none.
struct CandidateFilter {
    bool everywhere = true;
    std::vector<Gate> gates;
    // Every item the plug-in reports starts at the position asked, so a
    // check of the bytes there judges all of them (false when unknown).
    bool items_at_position = false;
    bool operator==(const CandidateFilter& other) const {
        return everywhere == other.everywhere && gates == other.gates &&
               items_at_position == other.items_at_position;
    }
};

// The lenient JPEG plug-in answers yes only where the SOI marker FF D8
// stands, with an item that starts there.
CandidateFilter JpegFilter();

// The strict JPEG plug-in answers yes only where SOI and the FF of the next
// marker stand: FF D8 FF, with an item that starts there.
CandidateFilter StrictJpegFilter();

// The container plug-in answers yes only where one of the magics of its
// walks stands (formathound/magics.h), with an item that starts there.
CandidateFilter FormatMagicFilter();

// The signature plug-in answers yes only where, for one of its signatures, every exact
// element of the (start) pattern equals the byte at its index; the gate of a
// signature tests its first four exact elements. A signature without an
// exact element matches everywhere, and so does the filter then.
CandidateFilter SignatureFilter(const SignatureList& list);

// The filters of the loaded plug-ins whose gates come from their signature
// file: read with markhound's own loader from the signs.ini that the
// plug-in reads (beside its module), once before and once after its
// Initialize; when the two readings differ, the file changed in between and
// the plug-in is asked everywhere.
class SignatureFilters {
public:
    // module: the plug-in's dlopen handle, through which it finds its file.
    void ReadBeforeInitialize(const std::string& name, void* module);
    void ReadAfterInitialize(const std::string& name, void* module);
    // The filter for the plug-in: everywhere unless both readings agree.
    CandidateFilter For(const std::string& name) const;
    // hound's answers for the plug-in's bounded signatures (signature_answers.h):
    // null unless both readings hold the same list.
    std::shared_ptr<const SignatureAnswers> Answers(const std::string& name) const;

private:
    struct Reading {
        std::string name;
        CandidateFilter before;
        CandidateFilter after;
        bool read_after = false;
        std::string key_before, key_after;  // SignatureListKey of each reading
        std::shared_ptr<const SignatureAnswers> answers;
    };
    std::vector<Reading> readings_;
};

// The filter of the signatures in the signs.ini beside module, read as
// markhound reads it; everywhere when no path can be built. *list, when
// given, gets the list read (empty when no path can be built).
CandidateFilter ReadSignatureFilter(void* module, std::unique_ptr<SignatureList>* list = nullptr);
