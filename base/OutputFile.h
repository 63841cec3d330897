#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// A file the user named for the tool's output (trace, waveform). Each Write is
// one write(2) call, so a killed program leaves only whole records, and what
// reached the file is counted. The first failure is kept: a file that failed
// takes no more writes; Reason() says why, BytesWritten() how much got through.
class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Creates or truncates `path`. False, with Reason() telling why, if it cannot.
    // The output may be a pipe: a reader that goes away must not kill the tool,
    // so from here on a broken pipe is a failed write (EPIPE), not SIGPIPE.
    bool Open(const std::string& path);
    // Writes all of `bytes`; false from the first failure on.
    bool Write(std::string_view bytes);
    // Closes the file; false if it failed now or earlier.
    bool Close();

    bool IsOpen() const { return fd_ >= 0; }
    bool Failed() const { return error_ != 0; }
    const std::string& Path() const { return path_; }
    std::uint64_t BytesWritten() const { return bytes_; }
    // The system's word for the failure, such as "No space left on device".
    std::string Reason() const;

private:
    void Fail(int error);

    int fd_ = -1;
    std::string path_;
    std::uint64_t bytes_ = 0;
    int error_ = 0;
};

// Whether two paths name one file: the same device and inode when both exist,
// otherwise the same absolute path once "." and ".." and symbolic links are
// resolved.
bool SameFile(const std::string& a, const std::string& b);
