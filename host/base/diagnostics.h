// One-line messages on stderr ("hound: ..."), counted and kept for the audit.
#pragma once
#include <iosfwd>
#include <string>
#include <vector>

class Diagnostics {
public:
    explicit Diagnostics(std::ostream& err) : err_(err) {}

    // A problem: printed as "hound: <text>"; the run then exits non-zero.
    void Error(const std::string& text);
    // Information that changes no exit code: "hound: note: <text>".
    void Note(const std::string& text);

    int error_count() const { return error_count_; }
    // Every line printed so far, without the "hound: " prefix.
    const std::vector<std::string>& lines() const { return lines_; }

private:
    std::ostream& err_;
    int error_count_ = 0;
    std::vector<std::string> lines_;
};
