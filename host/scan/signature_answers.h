// hound's own copy of markhound's answer where a bounded signature's start
// pattern is the first to match: the same item, with the search for its end
// pattern remembered across positions. Asked at each header of data full of
// headers without an end (repeated "GIF89a"), markhound searches to the end
// of the data every time, and a scan that moves on by one byte after each
// rejected item takes time in the square of the data; the remembered
// search makes it linear.
//
// Built only from a signature list that hound read twice, before and after
// markhound's Initialize, with the same result: the list markhound holds.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "contract/kx_plugin.h"
#include "host/base/reader.h"

class SignatureList;

class SignatureAnswers {
public:
    // The searches of one scan walk: each bounded signature's last search
    // start and where it found its end pattern (or its bound: none).
    struct Memo {
        struct Search {
            uint64_t from = ~uint64_t{0};
            uint64_t found = 0;
        };
        std::vector<Search> searches;
    };

    explicit SignatureAnswers(std::unique_ptr<SignatureList> list);
    // True when list has a signature that Answer answers for (a bounded one
    // without a search limit): else hound would only match every start
    // pattern again before asking the plug-in.
    static bool Serves(const SignatureList& list);
    ~SignatureAnswers();

    // True, with *item filled as markhound fills it, where the first
    // signature whose start pattern matches at position is a bounded one
    // without a search limit; false where markhound must be asked.
    bool Answer(const MappedData& data, uint64_t position, Memo* memo, FoundItem* item) const;

private:
    std::unique_ptr<SignatureList> list_;
};

// A text that differs between two lists unless they hold the same
// signatures in the same order (types, patterns, fields and texts).
std::string SignatureListKey(const SignatureList& list);
