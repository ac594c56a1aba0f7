// Where the progress bar goes on the overlay: three quarters of the client width, centred, its
// top at 77 % of the height, with the bar image's aspect ratio.
#pragma once

struct BarGeometry {
    int x, y, width, height;  // the bar's rectangle in client coordinates
    int margin;               // the image's 3-pixel frame at the drawn scale
    float scale;              // drawn width / image width
    float fontSize;           // pixels
};

BarGeometry ComputeBarGeometry(int clientWidth, int clientHeight, int imageWidth, int imageHeight);

// Width of the amber fill for progress 0..10000.
int FillWidth(const BarGeometry& bar, int progress);
