#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/OutputFile.h"
#include "io/PortIo.h"

// Logs every port write as "<microseconds since start> <address> <value>", one
// line per write(2), so nothing is lost if the program is killed. A read is the
// same line with a fourth field, "read", so write lines stay as they are. A trace
// that cannot be written is reported once, through the port I/O's log, and
// stops; the tool goes on.
class PortTrace final : public PortObserver {
public:
    explicit PortTrace(PortIo& io) : io_(io) {}
    ~PortTrace() override;
    PortTrace(const PortTrace&) = delete;
    PortTrace& operator=(const PortTrace&) = delete;

    // Opens (truncates) `path` and subscribes to the port; false, with Error()
    // telling why, if it cannot be opened.
    bool Open(const std::string& path);
    // Unsubscribes and closes; reports a failure that shows only now.
    void Close();
    void OnPortWrite(std::uint32_t address, std::uint8_t value) override;
    void OnPortRead(std::uint32_t address, std::uint8_t value) override;
    // "<microseconds> <base> lost <message>": where the port's device went away.
    void OnPortLost(std::uint32_t base, const std::string& message) override;

    const std::string& Error() const { return error_; }
    // Whether some of the trace did not reach the file.
    bool Lost() const { return file_.Failed(); }

private:
    void Log(std::uint32_t address, std::uint8_t value, const char* suffix);
    void Put(std::string_view line);
    void Fail();

    PortIo& io_;
    OutputFile file_;
    std::string error_;
    std::uint64_t origin_ = 0;
    std::uint64_t lines_ = 0;
};
