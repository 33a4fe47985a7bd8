// Output paths against the inputs and each other, before the scan.
#include "host/report/output_paths.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "host/base/names.h"

namespace {

struct FileId {
    bool exists = false;
    int error = 0;  // errno of a failed stat other than "does not exist"
    struct stat info {};
    bool Same(const FileId& other) const {
        return exists && other.exists && info.st_dev == other.info.st_dev &&
               info.st_ino == other.info.st_ino;
    }
};

FileId Identify(const std::string& path) {
    FileId id;
    if (stat(path.c_str(), &id.info) == 0) {
        id.exists = true;
    } else if (errno != ENOENT && errno != ENOTDIR) {
        id.error = errno;
    }
    return id;
}

// The standard output, when it is a file.
FileId StandardOutput() {
    FileId id;
    id.exists = fstat(STDOUT_FILENO, &id.info) == 0 && S_ISREG(id.info.st_mode);
    return id;
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
                                          const std::vector<std::string>& inputs) {
    std::vector<std::string> problems;
    std::vector<FileId> input_ids;
    for (const std::string& input : inputs) input_ids.push_back(Identify(input));
    const FileId out_id = out.empty() ? FileId() : Identify(out);
    const FileId audit = out.empty() ? FileId() : Identify(out + "/audit.txt");

    if (!dfxml.empty()) {
        const FileId target = Identify(dfxml);
        const std::string inside = "--dfxml " + Quoted(dfxml) + " lies inside the --out folder " + Quoted(out) +
                                   ", where the audit and the extracted files go; refused";
        // Inside an --out folder not made yet, its folder is missing too: the first is what matters.
        std::string problem = !out.empty() && !out_id.exists && InsideNew(Folder(dfxml), out)
                                  ? inside
                                  : DfxmlProblem(dfxml, target);
        for (size_t i = 0; problem.empty() && i < inputs.size(); ++i) {
            if (target.Same(input_ids[i])) {
                problem = "--dfxml " + Quoted(dfxml) + " is the input " + Quoted(inputs[i]) +
                          "; refused, so as not to overwrite it";
            }
        }
        if (problem.empty() && out_id.exists && Inside(Folder(dfxml), out_id)) problem = inside;
        if (!problem.empty()) problems.push_back(problem);
    }
    // The standard output, when it is a file: ">> disk.img" would grow the evidence.
    const FileId stdout_id = StandardOutput();
    for (size_t i = 0; i < inputs.size(); ++i) {
        if (stdout_id.Same(input_ids[i])) {
            problems.push_back("the standard output is the input " + Quoted(inputs[i]) +
                               "; refused, so as not to write into it");
        }
        if (audit.Same(input_ids[i])) {
            problems.push_back("the input " + Quoted(inputs[i]) + " is " +
                               Quoted(out + "/audit.txt") + ", which this run would rewrite; refused");
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
    const FileId report = dfxml.empty() ? FileId() : Identify(dfxml);
    const FileId audit = out.empty() ? FileId() : Identify(out + "/audit.txt");
    const FileId stdout_id = StandardOutput();
    for (const std::string& image : images) {
        const FileId id = Identify(image);
        const std::string what = "the image " + Quoted(image) + " that the parts name";
        if (report.Same(id)) {
            problems.push_back("--dfxml " + Quoted(dfxml) + " is " + what + "; refused, so as not to overwrite it");
        }
        if (stdout_id.Same(id)) {
            problems.push_back("the standard output is " + what + "; refused, so as not to write into it");
        }
        if (audit.Same(id)) {
            problems.push_back(Quoted(out + "/audit.txt") + " is " + what + ", which this run would rewrite; refused");
        }
    }
    return problems;
}
