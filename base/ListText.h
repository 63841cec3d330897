#pragma once

#include <string>
#include <vector>

// "a, b or c": choices in a message; "" for none.
std::string Alternatives(const std::vector<std::string>& items);
