#include "ui/ProgressGeometry.h"

#include <cmath>

BarGeometry ComputeBarGeometry(int clientWidth, int clientHeight, int imageWidth, int imageHeight) {
    BarGeometry bar{};
    bar.width = int(float(clientWidth) * 0.75f);
    bar.height = int(float(bar.width) / (float(imageWidth) / float(imageHeight)));
    bar.x = (clientWidth - bar.width) / 2;
    bar.y = int(float(clientHeight) * 0.77f);
    bar.scale = float(bar.width) / float(imageWidth);
    bar.margin = int(std::lround(bar.scale * 3.0f));
    bar.fontSize = bar.scale * 14.0f;
    return bar;
}

int FillWidth(const BarGeometry& bar, int progress) {
    return (bar.width - 2 * bar.margin) * progress / 10000;
}
