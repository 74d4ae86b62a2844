#pragma once

#include <string>
#include <vector>

namespace zvscenario {

// A small line chart written as SVG text: one panel, fixed axes, a legend.
class SvgPlot {
public:
    SvgPlot(std::string title, double xMax, double yMin, double yMax, std::string yLabel);

    void AddLine(const std::vector<double>& y, double xStep, const std::string& label,
                 const std::string& colour, bool dashed = false);
    void AddBand(double yLow, double yHigh);

    // The panel as an SVG group placed at (left, top) in a width x height box.
    std::string Render(double left, double top, double width, double height) const;

private:
    struct Line {
        std::vector<double> y;
        double xStep;
        std::string label;
        std::string colour;
        bool dashed;
    };
    std::string title;
    double xMax;
    double yMin;
    double yMax;
    std::string yLabel;
    std::vector<Line> lines;
    std::vector<std::pair<double, double>> bands;
};

} // namespace zvscenario
