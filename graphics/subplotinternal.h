// Helpers that the subplot model's files share and no caller outside needs.
#pragma once

#include "graphics/subplot.h"

bool IsLogX(const SubplotRecord* r);
bool IsLogY(const SubplotRecord* r);
// The view's right, up and depth coordinates of a data point.
void ProjectPoint(const SubplotRecord* r, double x, double y, double z, double* a, double* b, double* depth);
// Pixel and depth of a data point through the view; NaN and false for a
// point behind a perspective camera.
bool ProjectToPixel(const SubplotRecord* r, double x, double y, double z, double* px, double* py, double* depth);
