// An item as the stages hand it on: found by the scan, judged by the check
// stage, written by the report stage. The check's verdict travels as codes;
// its texts are made at output (host/check/formats.h).
#pragma once
#include <cstdint>
#include <string>

// The bytes from an item's offset up to the end of the data.
// The first occurrence of a word at or after a position of the same data,
// remembered from one check to the next: none lies in [from, found), and
// found is the word's first byte (or limit: none before limit).
struct SearchMemo {
    const uint8_t* from = nullptr;
    const uint8_t* found = nullptr;
    const uint8_t* limit = nullptr;
};

// The memos of one scan walk through one data buffer (CheckBytes::memo).
struct CheckMemo {
    SearchMemo pdf_eof;
};

struct CheckBytes {
    const uint8_t* data;
    uint64_t size;
    // What the checks of earlier items in the same data remembered, so that
    // a check that searches forward does not search the same bytes again
    // from every false header; null: nothing is remembered.
    CheckMemo* memo = nullptr;
    // The extension the finder gave the item: it picks the checker of a
    // format that has no magic of its own (TGA); null or "": none.
    const char* extension = nullptr;
};

enum class CheckState : uint8_t {
    kOff,        // not checked: --no-check, or the bytes were not at hand
    kUnchecked,  // no checker knows the item's format, or a limit stopped it
    kValid,
    kInvalid,
};

// The format row of no checker.
constexpr uint8_t kNoFormat = 0xFF;

struct CheckResult {
    CheckState state = CheckState::kUnchecked;
    // For a valid item: its length by the format's own end; 0 where the
    // format defines none (the plug-in's size stands).
    uint64_t end = 0;
    uint8_t format = kNoFormat;  // the checker's row in the format table
    uint8_t reason = 0;          // why, in that format's reasons; 0: none given
    // For a valid item: the name its content gives it where that says more
    // than the plug-in's (a docx rather than a zip); static texts, or null.
    const char* extension = nullptr;
    const char* description = nullptr;
};

// Judges the item whose bytes start at bytes.data.
using CheckFn = CheckResult (*)(CheckBytes bytes);
// A format's pre-check: may_start(format, bytes) is false where no item of
// that format can pass its check, true wherever the format's magic does not
// stand (host/check/formats.h).
struct PreCheck {
    bool (*may_start)(uint8_t format, CheckBytes bytes);
    uint8_t format;
};

// An item as reported: the plug-in's texts copied at once, since they are
// valid only until the plug-in's next Initialize, Reload or Finalize.
struct Item {
    uint64_t offset = 0;
    uint64_t size = 0;          // the checked size, else as the plug-in reported it
    uint64_t plugin_size = 0;   // as the plug-in reported it
    uint64_t size_in_file = 0;  // the part that lies inside the data
    bool truncated = false;     // the item reaches past the end of the data
    std::string extension;
    std::string description;
    uint32_t plugin = 0;
    CheckState check = CheckState::kOff;
    uint8_t check_format = kNoFormat;  // the checker's row
    uint8_t check_reason = 0;          // why an item was found invalid or unchecked
};
