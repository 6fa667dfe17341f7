#pragma once

#include <QIcon>
#include <QPixmap>

// The window's pictures, drawn in code so that every size stays crisp.
namespace korvana::artwork {

// A blue directory book with a white handset on its cover; 16 and 32 px.
QIcon applicationIcon();
// A magnifier with a red cross: clears the search fields; 16, 24 and 32 px.
QIcon clearIcon();
// A rotary telephone: dials the chosen number; 16, 24 and 32 px.
QIcon dialIcon();
// The town under an evening sky with telephone wires, 181 x 150.
QPixmap townPicture();
// The decorative band under the panels, 536 x 5, stretched where shown.
QPixmap bandPicture();

} // namespace korvana::artwork
