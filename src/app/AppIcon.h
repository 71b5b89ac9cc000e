#pragma once

#include <QIcon>
#include <QImage>

namespace klangor {

// The name under which the desktop knows the program: its desktop entry, its AppStream component and
// its icon in the icon theme are all called so.
inline constexpr const char *kDesktopId = "example.vellumar.Klangor";

// The program's icon at nSize x nSize pixels, drawn from the same SVG that is installed into the icon
// theme, so the window, the About box and the desktop's menus show one picture. A null image only if
// the SVG built into the program cannot be read.
QImage RenderAppIcon(int nSize);

// The icon at the sizes window managers and the About box ask for.
QIcon AppIcon();

}  // namespace klangor
