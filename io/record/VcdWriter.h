#pragma once

#include <cstdint>
#include <string>

#include "base/Clock.h"
#include "base/OutputFile.h"
#include "io/PortIo.h"
#include "io/PortLines.h"

// Records the twelve module lines of one port (E0, E1, RS, RW, D0 to D7, at the
// levels the module's pins see: E1 inverted on a parallel port, a line the
// port does not wire floating) as a Value Change Dump in microseconds, readable by
// waveform viewers and logic-analyser software. Each change is one write(2), so
// a killed program still leaves a usable file. A waveform that cannot be
// written is reported once, through the port I/O's log, and stops.
class VcdWriter final : public PortObserver {
public:
    VcdWriter(Clock& clock, PortIo& io) : clock_(clock), io_(io), lines_(io) {}
    ~VcdWriter() override;
    VcdWriter(const VcdWriter&) = delete;
    VcdWriter& operator=(const VcdWriter&) = delete;

    // Opens (truncates) `path`, writes the header and the levels of the port at
    // `portBase` as time 0, and subscribes to the port I/O. False, with Error()
    // telling why, if the file cannot be written.
    bool Open(const std::string& path, std::uint32_t portBase);
    // Follows another port from now on; its current levels are recorded as changes.
    void AttachToPort(std::uint32_t portBase);
    // Ends the dump at the current time and closes the file. Also done on destruction.
    void Close();

    bool IsOpen() const { return file_.IsOpen(); }
    const std::string& Error() const { return error_; }
    // Whether some of the waveform did not reach the file.
    bool Lost() const { return file_.Failed(); }

    void OnPortWrite(std::uint32_t address, std::uint8_t value) override;

private:
    static constexpr int kSignals = 12;

    static std::uint16_t Signals(LineSet lines);
    std::uint16_t Wired() const;
    std::uint16_t Levels() const;  // bit i = signal i of the header
    void Record(std::uint16_t levels);
    std::string NextStamp();
    void Fail(const char* what);

    Clock& clock_;
    PortIo& io_;
    OutputFile file_;
    std::string error_;
    PortLines lines_;
    PortWiring wiring_;
    std::uint64_t origin_ = 0;
    std::uint64_t lastStamp_ = 0;
    std::uint16_t recorded_ = 0;
};
