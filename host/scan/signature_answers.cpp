#include "host/scan/signature_answers.h"

#include <cstring>
#include <typeinfo>

#include "markhound/signatures/signature_list.h"

namespace {

// The byte markhound reads at position through hound's reader.
uint8_t ByteAt(const MappedData& data, uint64_t position) {
    return position < data.size ? data.bytes[position] : PastEndByte(data.size, position);
}

bool MatchesAt(const PatternArray& pattern, const MappedData& data, uint64_t position) {
    const auto* element = static_cast<const PatternByte*>(pattern.Items());
    for (int32_t k = 0; k < pattern.Count(); ++k) {
        if (element[k].exact != 0 && ByteAt(data, position + static_cast<uint64_t>(k)) != element[k].value) {
            return false;
        }
    }
    return true;
}

// The first candidate in [from, bound) at which pattern matches, or bound.
// The candidates lie below bound = size - pattern length, so every byte
// tested lies inside the data; the first exact byte is found with memchr.
uint64_t FindFrom(const PatternArray& pattern, const MappedData& data, uint64_t from, uint64_t bound) {
    const auto* element = static_cast<const PatternByte*>(pattern.Items());
    int32_t first = 0;
    while (first < pattern.Count() && element[first].exact == 0) ++first;
    if (first == pattern.Count()) return from < bound ? from : bound;  // all wildcards
    for (uint64_t candidate = from; candidate < bound;) {
        const uint8_t* start = data.bytes + candidate + first;
        const void* hit = std::memchr(start, element[first].value, bound - candidate);
        if (hit == nullptr) return bound;
        candidate += static_cast<uint64_t>(static_cast<const uint8_t*>(hit) - start);
        if (MatchesAt(pattern, data, candidate)) return candidate;
        ++candidate;
    }
    return bound;
}

void AppendPattern(const PatternArray& pattern, std::string* key) {
    key->append(std::to_string(pattern.Count())).push_back(':');
    key->append(static_cast<const char*>(pattern.Items()), static_cast<size_t>(pattern.Count()) * sizeof(PatternByte));
}

}  // namespace

SignatureAnswers::SignatureAnswers(std::unique_ptr<SignatureList> list) : list_(std::move(list)) {}

SignatureAnswers::~SignatureAnswers() = default;

bool SignatureAnswers::Serves(const SignatureList& list) {
    for (int32_t i = 0; i < list.Count(); ++i) {
        const SizedSignature* signature = list.Signature(i);
        if (signature != nullptr && typeid(*signature) == typeid(BoundedSignature) &&
            static_cast<const BoundedSignature*>(signature)->limit_size() == 0) {
            return true;
        }
    }
    return false;
}

bool SignatureAnswers::Answer(const MappedData& data, uint64_t position, Memo* memo, FoundItem* item) const {
    for (int32_t i = 0; i < list_->Count(); ++i) {
        const SizedSignature* signature = list_->Signature(i);
        if (signature == nullptr || !MatchesAt(signature->pattern, data, position)) continue;
        // The first match is markhound's answer; only a bounded signature's,
        // whose end search is the cost, is given here.
        if (typeid(*signature) != typeid(BoundedSignature)) return false;
        const auto* bounded = static_cast<const BoundedSignature*>(signature);
        if (bounded->limit_size() != 0) return false;
        const PatternArray& end = bounded->end_pattern.Count() > 0 ? bounded->end_pattern : bounded->pattern;
        const uint64_t start = position + static_cast<uint32_t>(bounded->pattern.Count());
        const uint64_t end_length = static_cast<uint32_t>(end.Count());
        const uint64_t length = data.size;
        item->offset = position + bounded->start_offset;
        item->extension = bounded->ext.text;
        item->description = bounded->name.text;
        if (length >= end_length && start < length - end_length) {
            const uint64_t bound = length - end_length;
            if (memo->searches.size() < static_cast<size_t>(list_->Count())) {
                memo->searches.resize(static_cast<size_t>(list_->Count()));
            }
            // No match lies in [from, found): from any start in between, the
            // first one is still found.
            Memo::Search& search = memo->searches[static_cast<size_t>(i)];
            if (!(search.from <= start && start <= search.found)) search = {start, FindFrom(end, data, start, bound)};
            if (search.found < bound) {
                item->size = search.found - position + bounded->end_offset;
                return true;
            }
        }
        const uint64_t to_end = length - position + bounded->end_offset;  // wraps modulo 2^64
        item->size = to_end < length ? to_end : length;
        return true;
    }
    return false;
}

std::string SignatureListKey(const SignatureList& list) {
    std::string key;
    for (int32_t i = 0; i < list.Count(); ++i) {
        const SizedSignature* signature = list.Signature(i);
        key += '\n';
        if (signature == nullptr) continue;
        key += typeid(*signature).name();
        AppendPattern(signature->pattern, &key);
        key += ' ' + std::to_string(signature->size_offset) + ' ' + std::to_string(signature->size_width) + ' ' +
               std::to_string(signature->size_addon) + ' ' + signature->name.text + '\0' + signature->ext.text + '\0';
        if (const auto* bounded = dynamic_cast<const BoundedSignature*>(signature)) {
            AppendPattern(bounded->end_pattern, &key);
            key += ' ' + std::to_string(bounded->start_offset) + ' ' + std::to_string(bounded->end_offset);
        }
    }
    return key;
}
