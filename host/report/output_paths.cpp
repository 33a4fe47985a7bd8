// Output paths against the inputs and each other, before the scan.
#include "host/report/output_paths.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <utility>

#include "host/base/names.h"

namespace {

// What a write can reach: a file by (device, inode), a block device by its
// number (kDevice, rdev), so that every node and link of either counts.
using Key = std::pair<uint64_t, uint64_t>;
constexpr uint64_t kDevice = UINT64_MAX;

// The first line of a sysfs file, or "".
std::string SysLine(const std::string& path) {
    std::ifstream file(path);
    std::string line;
    std::getline(file, line);
    return line;
}

// How a file's keys are gathered: a write reaches a partition's whole disk;
// a read of a partition does not read its sister partitions, so an input
// partition's disk is only looked through (to a loop device's file).
enum class Role { kInput, kOutput };

void AddFile(const std::string& path, Role role, int depth, std::vector<Key>* keys);

dev_t DeviceNumber(const std::string& sys_file, bool* found) {
    unsigned device_major = 0, device_minor = 0;
    *found = std::sscanf(SysLine(sys_file).c_str(), "%u:%u", &device_major, &device_minor) == 2;
    return makedev(device_major, device_minor);
}

// A block device and what it stands on: a partition's disk, a loop device's
// backing file, the devices under a mapped or RAID device (sysfs). Writing
// to one writes to what it stands on.
void AddDevice(dev_t device, Role role, int depth, bool self, std::vector<Key>* keys) {
    const Key key{kDevice, device};
    if (depth > 8 || std::find(keys->begin(), keys->end(), key) != keys->end()) return;
    if (self) keys->push_back(key);
    const std::string sys = "/sys/dev/block/" + std::to_string(major(device)) + ":" + std::to_string(minor(device));
    std::error_code failure;
    bool found = false;
    if (std::filesystem::exists(sys + "/partition", failure)) {
        const dev_t disk = DeviceNumber(sys + "/../dev", &found);
        if (found) AddDevice(disk, role, depth + 1, role == Role::kOutput, keys);
    }
    const std::string backing = SysLine(sys + "/loop/backing_file");
    if (!backing.empty()) AddFile(backing, role, depth + 1, keys);
    for (const auto& slave : std::filesystem::directory_iterator(sys + "/slaves", failure)) {
        const dev_t under = DeviceNumber(slave.path().string() + "/dev", &found);
        if (found) AddDevice(under, role, depth + 1, true, keys);
    }
}

void AddKeys(const struct stat& info, Role role, int depth, std::vector<Key>* keys) {
    if (S_ISBLK(info.st_mode)) {
        AddDevice(info.st_rdev, role, depth, true, keys);
    } else {
        keys->push_back({info.st_dev, info.st_ino});
    }
}

void AddFile(const std::string& path, Role role, int depth, std::vector<Key>* keys) {
    struct stat info;
    if (stat(path.c_str(), &info) == 0) AddKeys(info, role, depth, keys);
}

bool Overlap(const std::vector<Key>& a, const std::vector<Key>& b) {
    for (const Key& key : a) {
        if (std::find(b.begin(), b.end(), key) != b.end()) return true;
    }
    return false;
}

struct FileId {
    bool exists = false;
    int error = 0;  // errno of a failed stat other than "does not exist"
    struct stat info {};
    std::vector<Key> keys;  // what it is, with what a block device stands on
    // For an output: the devices under the file system that holds it (or
    // would hold it), so that a file written onto a mounted image, or onto
    // the disk being scanned, is caught.
    std::vector<Key> storage;
    bool Same(const FileId& other) const { return exists && other.exists && Overlap(keys, other.keys); }
    bool StoredOn(const FileId& input) const { return input.exists && Overlap(storage, input.keys); }
};

FileId Identify(const std::string& path, Role role = Role::kInput) {
    FileId id;
    if (stat(path.c_str(), &id.info) == 0) {
        id.exists = true;
        AddKeys(id.info, role, 0, &id.keys);
    } else if (errno != ENOENT && errno != ENOTDIR) {
        id.error = errno;
    }
    return id;
}

// The device under path's file system, or under its nearest existing folder.
void AddStorage(const std::string& path, FileId* id) {
    std::filesystem::path at = std::filesystem::absolute(path);
    for (int depth = 0; depth < 256 && !at.empty(); ++depth, at = at.parent_path()) {
        struct stat info;
        if (stat(at.c_str(), &info) == 0) {
            AddDevice(info.st_dev, Role::kOutput, 0, true, &id->storage);
            return;
        }
        if (at == at.root_path()) return;
    }
}

// An output: what it is and where it is stored.
FileId IdentifyOutput(const std::string& path) {
    FileId id = Identify(path, Role::kOutput);
    AddStorage(path, &id);
    return id;
}

// A standard stream, when it is a file or a block device (a terminal or a
// pipe cannot be an input).
FileId StandardStream(int fd) {
    FileId id;
    if (fstat(fd, &id.info) != 0 || !(S_ISREG(id.info.st_mode) || S_ISBLK(id.info.st_mode))) return id;
    id.exists = true;
    AddKeys(id.info, Role::kOutput, 0, &id.keys);
    if (S_ISREG(id.info.st_mode)) AddDevice(id.info.st_dev, Role::kOutput, 0, true, &id.storage);
    return id;
}

// "is" or "is stored on", as out writes to in; empty when it does not.
std::string Reaches(const FileId& out, const FileId& in) {
    if (out.Same(in)) return "is";
    if (out.StoredOn(in)) return "is stored on";
    return "";
}

std::string Folder(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// True when folder is below (or is) the folder identified by top; walks up
// through "..", so every spelling of the path is seen.
bool Inside(const std::string& folder, const FileId& top) {
    std::string at = folder;
    FileId previous;
    for (int depth = 0; depth < 256; ++depth) {
        const FileId id = Identify(at);
        if (!id.exists || id.Same(previous)) return false;  // "/" is its own parent
        if (id.Same(top)) return true;
        previous = id;
        at += "/..";
    }
    return false;
}

// The DFXML report: a file that can be created or replaced, in a folder that exists.
std::string DfxmlProblem(const std::string& dfxml, const FileId& target) {
    if (target.error != 0) return "cannot use --dfxml " + Quoted(dfxml) + ": " + std::strerror(target.error);
    if (target.exists && S_ISDIR(target.info.st_mode)) {
        return "cannot write --dfxml " + Quoted(dfxml) + ": it is a folder";
    }
    if (target.exists && !S_ISREG(target.info.st_mode)) {
        // Devices and pipes are written in place, not replaced.
        if (access(dfxml.c_str(), W_OK) != 0) {
            return "cannot write --dfxml " + Quoted(dfxml) + ": " + std::strerror(errno);
        }
        return "";
    }
    const std::string folder = Folder(dfxml);
    const FileId parent = Identify(folder);
    if (!parent.exists) {
        return "cannot write --dfxml " + Quoted(dfxml) + ": its folder " + Quoted(folder) +
               (parent.error != 0 ? std::string(" cannot be read: ") + std::strerror(parent.error)
                                  : std::string(" does not exist"));
    }
    if (!S_ISDIR(parent.info.st_mode)) {
        return "cannot write --dfxml " + Quoted(dfxml) + ": " + Quoted(folder) + " is not a folder";
    }
    if (access(folder.c_str(), W_OK | X_OK) != 0) {
        return "cannot write --dfxml " + Quoted(dfxml) + " into " + Quoted(folder) + ": " +
               std::strerror(errno);
    }
    return "";
}

// True when folder lies inside out, a folder not made yet: their paths are
// compared as far as they exist resolved (links, "..") and lexically beyond.
bool InsideNew(const std::string& folder, const std::string& out) {
    std::error_code failure;
    const auto resolved = [&](const std::string& path) {
        std::filesystem::path full = std::filesystem::weakly_canonical(std::filesystem::absolute(path), failure);
        return full.filename().empty() ? full.parent_path() : full;
    };
    const std::filesystem::path top = resolved(out), at = resolved(folder);
    if (failure) return false;
    auto a = at.begin();
    for (auto t = top.begin(); t != top.end(); ++t, ++a) {
        if (a == at.end() || *a != *t) return false;
    }
    return true;
}

}  // namespace

std::vector<std::string> CheckOutputPaths(const std::string& dfxml, const std::string& out,
                                          const std::vector<std::string>& given, const std::string& signs) {
    std::vector<std::string> problems;
    // What the run reads, each with how the lines name it.
    std::vector<std::string> inputs, what;
    for (const std::string& input : given) {
        inputs.push_back(input);
        what.push_back("the input " + Quoted(input));
    }
    if (!signs.empty()) {
        inputs.push_back(signs);
        what.push_back("the signature file " + Quoted(signs));
    }
    std::vector<FileId> input_ids;
    for (const std::string& input : inputs) input_ids.push_back(Identify(input));
    const FileId out_id = out.empty() ? FileId() : IdentifyOutput(out);
    const FileId audit = out.empty() ? FileId() : Identify(out + "/audit.txt", Role::kOutput);

    if (!dfxml.empty()) {
        const FileId target = IdentifyOutput(dfxml);
        const std::string inside = "--dfxml " + Quoted(dfxml) + " lies inside the --out folder " + Quoted(out) +
                                   ", where the audit and the extracted files go; refused";
        // Inside an --out folder not made yet, its folder is missing too: the first is what matters.
        std::string problem = !out.empty() && !out_id.exists && InsideNew(Folder(dfxml), out)
                                  ? inside
                                  : DfxmlProblem(dfxml, target);
        for (size_t i = 0; problem.empty() && i < inputs.size(); ++i) {
            const std::string reach = Reaches(target, input_ids[i]);
            if (!reach.empty()) {
                problem = "--dfxml " + Quoted(dfxml) + " " + reach + " " + what[i] +
                          (reach == "is" ? "; refused, so as not to overwrite it"
                                         : "; refused, so as not to write into it");
            }
        }
        if (problem.empty() && out_id.exists && Inside(Folder(dfxml), out_id)) problem = inside;
        if (!problem.empty()) problems.push_back(problem);
    }
    // The standard output, when it is a file: ">> disk.img" would grow the evidence.
    const FileId stdout_id = StandardStream(STDOUT_FILENO);
    for (size_t i = 0; i < inputs.size(); ++i) {
        const std::string reach = Reaches(stdout_id, input_ids[i]);
        if (!reach.empty()) {
            problems.push_back("the standard output " + reach + " " + what[i] +
                               "; refused, so as not to write into it");
        }
        if (audit.Same(input_ids[i])) {
            problems.push_back(what[i] + " is " +
                               Quoted(out + "/audit.txt") + ", which this run would rewrite; refused");
        } else if (out_id.StoredOn(input_ids[i])) {
            problems.push_back("--out " + Quoted(out) + " is stored on " + what[i] +
                               "; refused, so as not to write into it");
        }
    }
    return problems;
}

std::vector<std::string> CheckJoinOutputPaths(const std::string& dfxml, const std::string& out,
                                              const std::vector<std::string>& parts,
                                              const std::vector<std::string>& images) {
    std::vector<std::string> inputs;
    for (const std::string& part : parts) {
        if (part != "-") inputs.push_back(part);
    }
    std::vector<std::string> problems = CheckOutputPaths(dfxml, out, inputs);
    const FileId report = dfxml.empty() ? FileId() : IdentifyOutput(dfxml);
    const FileId out_id = out.empty() ? FileId() : IdentifyOutput(out);
    const FileId audit = out.empty() ? FileId() : Identify(out + "/audit.txt", Role::kOutput);
    const FileId stdout_id = StandardStream(STDOUT_FILENO);
    for (const std::string& image : images) {
        const FileId id = Identify(image);
        const std::string what = "the image " + Quoted(image) + " that the parts name";
        std::string reach = Reaches(report, id);
        if (!reach.empty()) {
            problems.push_back("--dfxml " + Quoted(dfxml) + " " + reach + " " + what +
                               (reach == "is" ? "; refused, so as not to overwrite it"
                                              : "; refused, so as not to write into it"));
        }
        reach = Reaches(stdout_id, id);
        if (!reach.empty()) {
            problems.push_back("the standard output " + reach + " " + what + "; refused, so as not to write into it");
        }
        if (audit.Same(id)) {
            problems.push_back(Quoted(out + "/audit.txt") + " is " + what + ", which this run would rewrite; refused");
        } else if (out_id.StoredOn(id)) {
            problems.push_back("--out " + Quoted(out) + " is stored on " + what + "; refused, so as not to write into it");
        }
    }
    return problems;
}

bool RefuseStandardErrorOn(const std::vector<std::string>& paths, const std::string& what, std::ostream& out) {
    const FileId stderr_id = StandardStream(STDERR_FILENO);
    if (!stderr_id.exists) return false;
    for (const std::string& path : paths) {
        const std::string reach = Reaches(stderr_id, Identify(path));
        if (reach.empty()) continue;
        // Nothing more may reach that file: the refusal goes to the standard
        // output, unless that is the same file too.
        const int null = open("/dev/null", O_WRONLY);
        if (null >= 0) {
            dup2(null, STDERR_FILENO);
            close(null);
        }
        if (Reaches(StandardStream(STDOUT_FILENO), Identify(path)).empty()) {
            out << "hound: the standard error " << reach << " " << what << " " << Quoted(path)
                << "; refused, so as not to write into it" << std::endl;
        }
        return true;
    }
    return false;
}
