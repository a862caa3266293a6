// Folivo — multi-page TIFF editor.
// The open dialogs' filter and the image-name test that recent files share.
#pragma once

#include <QString>

namespace folivo {

// "description|patterns|…" of every format the open dialogs offer, in order.
const QString& OpenFilterText();

// "*" + the name's extension (with its dot), lowered, occurs somewhere in the
// filter text, descriptions included; a name without extension gives "*",
// which always occurs.
bool IsImageFileName(const QString& fileName);

}  // namespace folivo
