#pragma once

#include <QIcon>

// The column header arrows of the cached-files list: image 0 points down (descending),
// image 1 points up (ascending). They are drawn as vectors at whatever pixel size the
// header asks for, so they stay sharp on high-density screens.
QIcon SortArrowIcon(int image);

// The design size of the arrows: 16 x 13 pixels on a transparent background.
inline constexpr int kSortArrowWidth = 16;
inline constexpr int kSortArrowHeight = 13;
