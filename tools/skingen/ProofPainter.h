#pragma once

#include <QImage>
#include <filesystem>

namespace klangor {

namespace skingen {

// Proofs for looking at the skin without the program: the main window with every visible button in
// face k, the timeline drawn by the program's own geometry with the cursor picture read back from
// the skin folder, sample texts in the text colours of the layout, and the radio pair.
QImage ComposeMainProof(const QImage &background, const std::filesystem::path &pathSkin, int nFace);

}  // namespace skingen

}  // namespace klangor
