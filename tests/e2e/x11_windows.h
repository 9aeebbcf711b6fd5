// What a user sees of the suite's windows on the X display: found by title, viewable or not,
// their pixels, and closing one as its close button would.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace e2e {

// Top-level or child windows whose name is exactly `title` (0 when none).
unsigned long FindX11Window(const std::string& title);
// True when a window of that title is mapped and viewable.
bool X11WindowViewable(const std::string& title);
// Asks the viewable window of that title to close (WM_DELETE_WINDOW); false when there is none.
bool CloseX11Window(const std::string& title);
// Names and map states of every named window ("name:viewable"), for failure messages.
std::string DescribeX11Windows();
// The window's pixels as 0xRRGGBB values, row by row; empty when it cannot be read.
std::vector<uint32_t> GrabX11Window(unsigned long window, int* width = nullptr,
                                    int* height = nullptr);

}  // namespace e2e
