// The --out folder: creation, the lock against concurrent runs, earlier files.
#include "host/report/out_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>
#include <utility>
#include <vector>

#include "host/base/names.h"

namespace {

using FileId = std::pair<dev_t, ino_t>;

// The folder of temporary files ($TMPDIR, else /tmp) and the folders above
// it, nearest first.
std::vector<FileId> TemporaryFolders() {
    const char* tmpdir = std::getenv("TMPDIR");
    std::string at = tmpdir != nullptr && *tmpdir != '\0' ? tmpdir : "/tmp";
    std::vector<FileId> folders;
    struct stat info;
    for (int depth = 0; depth < 256 && stat(at.c_str(), &info) == 0; ++depth, at += "/..") {
        const FileId id = {info.st_dev, info.st_ino};
        if (!folders.empty() && folders.back() == id) break;  // "/" is its own parent
        folders.push_back(id);
    }
    return folders;
}

// Anything in the folder but what no run put there: the lock file, which a
// killed run leaves behind; $TMPDIR when it lies inside the folder, or the
// folder on the way to it; and when $TMPDIR is the folder itself, the
// private plug-in folder that this run made there for --signs.
bool HoldsFiles(const std::string& dir) {
    DIR* folder = opendir(dir.c_str());
    if (folder == nullptr) return false;
    const std::vector<FileId> temporary = TemporaryFolders();
    struct stat info;
    const bool is_temporary = fstat(dirfd(folder), &info) == 0 && !temporary.empty() &&
                              temporary.front() == FileId{info.st_dev, info.st_ino};
    bool holds = false;
    while (const dirent* entry = readdir(folder)) {
        const std::string name = entry->d_name;
        if (name == "." || name == ".." || name == kLockFileName) continue;
        if (is_temporary && name.rfind(kSignsFolderPrefix, 0) == 0) continue;
        if (fstatat(dirfd(folder), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(info.st_mode) &&
            std::find(temporary.begin(), temporary.end(), FileId{info.st_dev, info.st_ino}) != temporary.end()) {
            continue;
        }
        holds = true;
    }
    closedir(folder);
    return holds;
}

// The file locked through fd is the one that path names.
bool Names(const std::string& path, int fd) {
    struct stat locked, named;
    return fstat(fd, &locked) == 0 && stat(path.c_str(), &named) == 0 && locked.st_dev == named.st_dev &&
           locked.st_ino == named.st_ino;
}

// A part that ends holds the lock exclusively for a moment while it removes
// the file; a part that meets that lock tries again this often, 5 ms apart.
constexpr int kBusyTries = 20;

}  // namespace

std::string OutFolder::Open(const std::string& dir, bool append, bool part) {
    std::error_code failure;
    std::filesystem::create_directories(dir, failure);
    if (failure) return "cannot create " + Quoted(dir) + ": " + failure.message();
    // A folder that takes no files fails here, before the scan, not at the first item.
    if (access(dir.c_str(), W_OK | X_OK) != 0) {
        return "cannot write into " + Quoted(dir) + ": " + std::strerror(errno);
    }
    const std::string lock_path = dir + "/" + kLockFileName;
    // The lock is the file's flock, released by the kernel whatever ends the
    // run. The file is removed at the end, so a run that locked a file just
    // removed by another one tries again with the new file.
    for (int busy = 1;; ++busy) {
        const int fd = open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0) return "cannot create " + Quoted(lock_path) + ": " + std::strerror(errno);
        if (flock(fd, (part ? LOCK_SH : LOCK_EX) | LOCK_NB) != 0) {
            const int error = errno;
            close(fd);
            if (error == EWOULDBLOCK && part && busy < kBusyTries) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                continue;
            }
            if (error == EWOULDBLOCK) {
                return Quoted(dir) + " is in use by another hound run (it holds " + Quoted(lock_path) +
                       "); refused";
            }
            return "cannot lock " + Quoted(lock_path) + ": " + std::strerror(error);
        }
        if (Names(lock_path, fd)) {
            lock_fd_ = fd;
            break;
        }
        close(fd);
    }
    dir_ = dir;
    lock_path_ = lock_path;
    append_ = append;
    shared_ = part;
    if (!append && !part && HoldsFiles(dir)) {
        Release();
        return Quoted(dir) + " already holds files; refused, so as not to mix runs: give --out-append "
               "to add to them, or an empty folder";
    }
    return "";
}

void OutFolder::Release() {
    if (dir_fd_ >= 0) close(dir_fd_);
    dir_fd_ = -1;
    if (lock_fd_ < 0) return;
    // A part removes the lock file only when no other part holds it: then it
    // gets the lock exclusively. Held so, the name cannot change before the
    // unlink, but another part that ended first may have removed this file
    // already and a new part made a new one under its name.
    const bool alone = !shared_ || (flock(lock_fd_, LOCK_UN) == 0 && flock(lock_fd_, LOCK_EX | LOCK_NB) == 0);
    if (alone && Names(lock_path_, lock_fd_)) unlink(lock_path_.c_str());
    close(lock_fd_);
    lock_fd_ = -1;
}

bool OutFolder::Holds(const std::string& name) const {
    if (!append_) return false;
    struct stat info;
    return lstat((dir_ + "/" + name).c_str(), &info) == 0;
}

std::string OutFolder::NameOf(const std::string& extracted) {
    const size_t file_slash = extracted.find_last_of('/');
    const size_t type_slash = file_slash == std::string::npos || file_slash == 0
                                  ? std::string::npos
                                  : extracted.find_last_of('/', file_slash - 1);
    if (type_slash == std::string::npos) return "";
    const std::string type = extracted.substr(type_slash + 1, file_slash - type_slash - 1);
    const std::string file = extracted.substr(file_slash + 1);
    // Type folders are named as SafeExtension names them: never "." or "..".
    if (type != SafeExtension(type) || file.empty() || file == "." || file == "..") return "";
    if (dir_fd_ < 0) dir_fd_ = open(dir_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    struct stat top, named;
    const std::string folder = type_slash == 0 ? "/" : extracted.substr(0, type_slash);
    if (dir_fd_ < 0 || fstat(dir_fd_, &top) != 0 || stat(folder.c_str(), &named) != 0 ||
        top.st_dev != named.st_dev || top.st_ino != named.st_ino) {
        return "";
    }
    return type + "/" + file;
}

Removal OutFolder::Remove(const std::string& name, std::string* why) {
    const size_t slash = name.find('/');
    const std::string type = name.substr(0, slash), file = name.substr(slash + 1);
    const int type_fd = openat(dir_fd_, type.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (type_fd < 0) {
        const int error = errno;
        if (error == ENOENT) return Removal::kDone;
        if (error != ELOOP && error != ENOTDIR) {
            *why = std::strerror(error);
            return Removal::kFailed;
        }
        struct stat info;
        const bool link = fstatat(dir_fd_, type.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(info.st_mode);
        *why = Quoted(dir_ + "/" + type) + (link ? " is a symbolic link" : " is not a folder");
        return Removal::kRefused;
    }
    struct stat info;
    Removal done = Removal::kDone;
    if (fstatat(type_fd, file.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno != ENOENT) {
            *why = std::strerror(errno);
            done = Removal::kFailed;
        }
    } else if (!S_ISREG(info.st_mode)) {
        *why = S_ISLNK(info.st_mode) ? "it is a symbolic link" : "it is not a regular file";
        done = Removal::kRefused;
    } else if (unlinkat(type_fd, file.c_str(), 0) != 0 && errno != ENOENT) {
        *why = std::strerror(errno);
        done = Removal::kFailed;
    }
    close(type_fd);
    return done;
}
