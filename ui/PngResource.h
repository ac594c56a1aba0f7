#pragma once

#include "ui/Gdiplus.h"

// Loads resource `id` of type "PNG" from the program's resources into a new image owned by the
// caller. A missing or undecodable resource gives an image whose load failed (it draws nothing);
// null only when the image object itself cannot be allocated.
Gdiplus::Image* LoadPngResource(UINT id);
