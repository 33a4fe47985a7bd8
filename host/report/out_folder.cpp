// The --out folder: creation, the lock against concurrent runs, earlier files.
#include "host/report/out_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

#include "host/report/names.h"

namespace {

// Anything in the folder but the lock file, which a killed run leaves behind.
bool HoldsFiles(const std::string& dir) {
    DIR* folder = opendir(dir.c_str());
    if (folder == nullptr) return false;
    bool holds = false;
    while (const dirent* entry = readdir(folder)) {
        const std::string name = entry->d_name;
        if (name != "." && name != ".." && name != kLockFileName) holds = true;
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
