#include "base/OutputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>

namespace {

// The absolute path a file will be created at: symbolic links followed, also
// one that points at a file yet to be made, and "." and ".." resolved.
std::filesystem::path Resolved(const std::string& path) {
    namespace fs = std::filesystem;
    std::error_code ignored;
    fs::path p = fs::absolute(path, ignored);
    for (int hops = 0; hops < 40 && fs::is_symlink(p, ignored); ++hops)
        p = p.parent_path() / fs::read_symlink(p, ignored);
    return fs::weakly_canonical(p, ignored);
}

}  // namespace

OutputFile::~OutputFile() {
    if (fd_ >= 0) ::close(fd_);
}

bool OutputFile::Open(const std::string& path) {
    Close();
    path_ = path;
    bytes_ = 0;
    error_ = 0;
    std::signal(SIGPIPE, SIG_IGN);
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd_ < 0) error_ = errno;
    return fd_ >= 0;
}

bool OutputFile::Write(std::string_view bytes) {
    if (fd_ < 0 || error_ != 0) return false;
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            Fail(n < 0 ? errno : ENOSPC);
            return false;
        }
        bytes_ += static_cast<std::uint64_t>(n);
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

bool OutputFile::Close() {
    if (fd_ >= 0) {
        // Some file systems report a lost write only here.
        if (::close(fd_) != 0 && error_ == 0 && errno != EINTR) error_ = errno;
        fd_ = -1;
    }
    return error_ == 0;
}

void OutputFile::Fail(int error) {
    error_ = error;
    ::close(fd_);
    fd_ = -1;
}

std::string OutputFile::Reason() const {
    return error_ == 0 ? std::string() : std::strerror(error_);
}

bool SameFile(const std::string& a, const std::string& b) {
    struct stat sa {};
    struct stat sb {};
    if (::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0)
        return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
    return Resolved(a) == Resolved(b);
}
