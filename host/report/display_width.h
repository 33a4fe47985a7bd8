// Columns a text takes on a terminal: East Asian wide and fullwidth
// characters take two, combining marks and zero-width characters none.
#pragma once
#include <cstddef>
#include <string_view>

// The display width of UTF-8 text. A byte that begins no well-formed
// sequence counts as one column, as the replacement it is printed as.
size_t DisplayWidth(std::string_view text);
