// A small writer of SVG drawings: lines, shapes and text, in user units
// with the origin at the top left.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tools {

// Text with &, <, > and " escaped, for XML and HTML text and attributes.
std::string xml_escaped(std::string_view text);

using Point = std::pair<double, double>;

class Svg {
public:
    Svg(double width, double height);

    void rect(double x, double y, double w, double h, std::string_view fill, double opacity = 1.0);
    void line(Point a, Point b, std::string_view stroke, double width = 1.0);
    void polyline(const std::vector<Point>& points, std::string_view stroke, double width);
    void polygon(const std::vector<Point>& points, std::string_view fill, double opacity);
    // With a title, viewers show it when the pointer rests on the circle.
    void circle(Point centre, double radius, std::string_view fill, std::string_view title = {});
    // anchor: "start", "middle" or "end".
    void text(Point at, std::string_view text, std::string_view anchor = "start", double size = 11);

    // The finished document.
    std::string str() const;

private:
    std::string body_;
    double width_;
    double height_;
};

}  // namespace tools
