// One-line messages on stderr, counted and kept for the audit.
#include "host/base/diagnostics.h"

#include <ostream>

void Diagnostics::Error(const std::string& text) {
    ++error_count_;
    lines_.push_back(text);
    err_ << "hound: " << text << '\n' << std::flush;
}

void Diagnostics::Note(const std::string& text) {
    lines_.push_back("note: " + text);
    err_ << "hound: note: " << text << '\n' << std::flush;
}
