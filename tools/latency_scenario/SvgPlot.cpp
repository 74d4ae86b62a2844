#include "SvgPlot.h"

#include <algorithm>
#include <cstdio>
#include <utility>

namespace zvscenario {

namespace {

std::string Format(const char* format, double a, double b = 0, double c = 0, double d = 0) {
    char text[256];
    std::snprintf(text, sizeof text, format, a, b, c, d);
    return text;
}

} // namespace

SvgPlot::SvgPlot(std::string plotTitle, double xLimit, double yLow, double yHigh,
                 std::string axisLabel)
    : title(std::move(plotTitle)), xMax(xLimit), yMin(yLow), yMax(yHigh),
      yLabel(std::move(axisLabel)) {}

void SvgPlot::AddLine(const std::vector<double>& y, double xStep, const std::string& label,
                      const std::string& colour, bool dashed) {
    lines.push_back(Line{y, xStep, label, colour, dashed});
}

void SvgPlot::AddBand(double yLow, double yHigh) {
    bands.emplace_back(yLow, yHigh);
}

std::string SvgPlot::Render(double left, double top, double width, double height) const {
    const double plotLeft = left + 60;
    const double plotTop = top + 30;
    const double plotWidth = width - 80;
    const double plotHeight = height - 70;
    const auto px = [&](double x) { return plotLeft + x / xMax * plotWidth; };
    const auto py = [&](double y) {
        const double clamped = std::clamp(y, yMin, yMax);
        return plotTop + (yMax - clamped) / (yMax - yMin) * plotHeight;
    };

    std::string svg;
    svg += "<text x=\"" + Format("%.1f", left + width / 2) + "\" y=\"" + Format("%.1f", top + 18) +
           "\" text-anchor=\"middle\" font-size=\"13\">" + title + "</text>\n";
    for (const auto& [low, high] : bands) {
        svg += Format("<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" ", plotLeft,
                      py(high), plotWidth, py(low) - py(high)) +
               "fill=\"#dde8dd\"/>\n";
    }
    svg += Format("<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" ", plotLeft, plotTop,
                  plotWidth, plotHeight) +
           "fill=\"none\" stroke=\"#444\"/>\n";
    for (int i = 0; i <= 5; ++i) {
        const double y = yMin + (yMax - yMin) * i / 5.0;
        svg +=
            Format("<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"end\" font-size=\"11\">%g</text>\n",
                   plotLeft - 5, py(y) + 4, y);
        const double x = xMax * i / 5.0;
        svg += Format(
            "<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\" font-size=\"11\">%g</text>\n",
            px(x), plotTop + plotHeight + 15, x);
    }
    svg += Format("<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\" font-size=\"11\">",
                  plotLeft + plotWidth / 2, plotTop + plotHeight + 32) +
           "audio time (minutes)</text>\n";
    svg +=
        Format("<text x=\"%.1f\" y=\"%.1f\" font-size=\"11\" transform=\"rotate(-90 %.1f %.1f)\" "
               "text-anchor=\"middle\">",
               left + 14, plotTop + plotHeight / 2, left + 14, plotTop + plotHeight / 2) +
        yLabel + "</text>\n";

    double legendY = plotTop + 14;
    for (const Line& line : lines) {
        svg += "<polyline fill=\"none\" stroke=\"" + line.colour + "\" stroke-width=\"1.3\"" +
               (line.dashed ? " stroke-dasharray=\"5,3\"" : "") + " points=\"";
        for (size_t i = 0; i < line.y.size(); ++i) {
            svg += Format("%.1f,%.1f ", px(static_cast<double>(i) * line.xStep), py(line.y[i]));
        }
        svg += "\"/>\n";
        if (line.label.empty()) {
            continue;
        }
        svg += Format("<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" ",
                      plotLeft + plotWidth - 150, legendY - 4, plotLeft + plotWidth - 125,
                      legendY - 4) +
               "stroke=\"" + line.colour + "\" stroke-width=\"2\"" +
               (line.dashed ? " stroke-dasharray=\"5,3\"" : "") + "/>\n";
        svg += Format("<text x=\"%.1f\" y=\"%.1f\" font-size=\"11\">", plotLeft + plotWidth - 120,
                      legendY) +
               line.label + "</text>\n";
        legendY += 15;
    }
    return svg;
}

} // namespace zvscenario
