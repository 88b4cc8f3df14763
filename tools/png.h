// Rasterising a chart: an SVG document drawn into a PNG file.
#pragma once

#include <string>

namespace tools {

// Throws EBadInput naming the file when the drawing or the writing fails.
void write_png(const std::string& svg, double width, double height, const std::string& path);

}  // namespace tools
