#pragma once

// Window layouts are given in twips, 15 to the pixel at 96 dots per inch; Qt
// scales logical pixels on screens of higher resolution.

#include <QRect>

constexpr int kTwipsPerPixel = 15;

constexpr int pixelsFromTwips(int twips)
{
    return (twips + kTwipsPerPixel / 2) / kTwipsPerPixel;
}

constexpr QRect rectFromTwips(int left, int top, int width, int height)
{
    return QRect(pixelsFromTwips(left), pixelsFromTwips(top), pixelsFromTwips(width),
                 pixelsFromTwips(height));
}
