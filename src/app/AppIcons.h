#pragma once

#include <QIcon>
#include <QString>
#include <QStringList>

// The image list imgMain: 16x16 icons under their keys, drawn as vector
// shapes at whatever size and pixel ratio they are asked for, so they stay
// sharp on high-dpi screens. No image files and no image plugins are needed.
namespace AppIcons {

inline constexpr int kImageHeight = 16;

// Every key of imgMain, in the image list's order.
QStringList keys();
bool contains(const QString &key);

// The icon of a key; a null icon for an unknown key.
QIcon icon(const QString &key);

// A tree node's icon: `image` normally, `selectedImage` while the node is
// selected.
QIcon nodeIcon(const QString &image, const QString &selectedImage);

// The program's own icon (window icon).
QIcon appIcon();

} // namespace AppIcons
