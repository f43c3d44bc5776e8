// MacTypes.h: the Carbon-era types that ApplicationServices brings into the
// global namespace with it. They are declared here so that a name of the
// helper that clashes with them (an unqualified Point, Rect or Size at global
// scope) fails the syntax check as it would fail on a Mac.
#pragma once

struct Point {
  short v;
  short h;
};
typedef struct Point Point;

struct Rect {
  short top;
  short left;
  short bottom;
  short right;
};
typedef struct Rect Rect;

typedef long Size;
