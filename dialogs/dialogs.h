// Folivo — multi-page TIFF editor.
// The adjustment dialogs: levels, brightness/contrast/gamma, resize, deskew, PDF output.
#pragma once
