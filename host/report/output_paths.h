// The places a scan writes to, checked before anything is scanned: each must
// be writable, and none may be an input or another output of the same run.
// Files are compared by device and inode, so links and other spellings of a
// path count as the same file.
#pragma once
#include <iosfwd>
#include <string>
#include <vector>

// One line per refused output path; empty when the run may go ahead. dfxml
// and out may be empty (not asked for). out need not exist yet. The standard
// output is checked too, when it is a file. signs, when given, is a
// signature file the run reads, guarded like an input.
std::vector<std::string> CheckOutputPaths(const std::string& dfxml, const std::string& out,
                                          const std::vector<std::string>& inputs, const std::string& signs = "");

// The same for hound join: its inputs are the parts (stdin, "-", left out),
// and neither output may be one of the images that the parts name either.
std::vector<std::string> CheckJoinOutputPaths(const std::string& dfxml, const std::string& out,
                                              const std::vector<std::string>& parts,
                                              const std::vector<std::string>& images);

// True when the standard error is, or is stored on, one of paths (what: "the
// input", ...): it is then pointed at /dev/null, and one line saying so goes
// to out unless the standard output is that file too. The caller stops.
bool RefuseStandardErrorOn(const std::vector<std::string>& paths, const std::string& what, std::ostream& out);
