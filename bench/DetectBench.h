#pragma once

#include <string>
#include <vector>

// Detection of I2C backpacks on the simulated bus at a modelled 100 kHz: the
// transfers and the modelled time of each step, per backpack, against the
// goals (a known wiring found and proven within 1 s, any wiring with RW
// within 10 s). Adds a BENCH line per backpack to `lines`; false when a goal
// is missed or a module is not proven.
bool MeasureDetection(std::vector<std::string>& lines);
