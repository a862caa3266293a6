// Folivo — multi-page TIFF editor.
// The image browser, quick count and split, and the shell file operations.
#pragma once
