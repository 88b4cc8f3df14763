#include "tools/svg.h"

#include <cstdio>

namespace tools {

namespace {

std::string number(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", v);
    return text;
}

std::string points_attribute(const std::vector<Point>& points) {
    std::string out;
    for (const auto& [x, y] : points) {
        if (!out.empty()) {
            out += ' ';
        }
        out += number(x);
        out += ',';
        out += number(y);
    }
    return out;
}

}  // namespace

std::string xml_escaped(std::string_view text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

Svg::Svg(double width, double height) : width_(width), height_(height) {}

void Svg::rect(double x, double y, double w, double h, std::string_view fill, double opacity) {
    body_ += "<rect x=\"" + number(x) + "\" y=\"" + number(y) + "\" width=\"" + number(w) +
             "\" height=\"" + number(h) + "\" fill=\"" + xml_escaped(fill) + "\" fill-opacity=\"" +
             number(opacity) + "\"/>\n";
}

void Svg::line(Point a, Point b, std::string_view stroke, double width) {
    body_ += "<line x1=\"" + number(a.first) + "\" y1=\"" + number(a.second) + "\" x2=\"" +
             number(b.first) + "\" y2=\"" + number(b.second) + "\" stroke=\"" +
             xml_escaped(stroke) + "\" stroke-width=\"" + number(width) + "\"/>\n";
}

void Svg::polyline(const std::vector<Point>& points, std::string_view stroke, double width) {
    body_ += "<polyline fill=\"none\" stroke=\"" + xml_escaped(stroke) + "\" stroke-width=\"" +
             number(width) + "\" points=\"" + points_attribute(points) + "\"/>\n";
}

void Svg::polygon(const std::vector<Point>& points, std::string_view fill, double opacity) {
    body_ += "<polygon fill=\"" + xml_escaped(fill) + "\" fill-opacity=\"" + number(opacity) +
             "\" stroke=\"none\" points=\"" + points_attribute(points) + "\"/>\n";
}

void Svg::circle(Point centre, double radius, std::string_view fill, std::string_view title) {
    body_ += "<circle cx=\"" + number(centre.first) + "\" cy=\"" + number(centre.second) +
             "\" r=\"" + number(radius) + "\" fill=\"" + xml_escaped(fill) + "\"";
    body_ += title.empty() ? "/>\n" : "><title>" + xml_escaped(title) + "</title></circle>\n";
}

void Svg::text(Point at, std::string_view text, std::string_view anchor, double size) {
    body_ += "<text x=\"" + number(at.first) + "\" y=\"" + number(at.second) +
             "\" font-family=\"sans-serif\" font-size=\"" + number(size) + "\" text-anchor=\"" +
             xml_escaped(anchor) + "\">" + xml_escaped(text) + "</text>\n";
}

std::string Svg::str() const {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" +
           number(width_) + "\" height=\"" + number(height_) + "\" viewBox=\"0 0 " +
           number(width_) + " " + number(height_) + "\">\n" + body_ + "</svg>\n";
}

}  // namespace tools
