// Folivo — multi-page TIFF editor.
// A TIFF file as a document: load every page, count pages, copy one page out
// without decoding it, and recognise TIFF and camera raw streams.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "formats/params.h"

namespace folivo {

class TPageList;
class TStream;

// Inserts every page of the TIFF in stream (from its current position) into
// pages: before the current page, or at the end when none is current.
// A page that fails to read sets Aborting, leaves no entry and ends the load;
// pages before it stay. Returns the number of pages inserted.
int LoadTiffPages(TPageList& pages, TStream& stream, TIOProgress& progress);
// The same from a file; throws TFileError when it cannot be opened.
int LoadTiffPages(TPageList& pages, const std::string& fileName, TIOProgress& progress);

// Pages in the file's IFD chain; 0 for a file that is not TIFF. Throws
// TFileError when it cannot be opened.
int CountTiffPages(const std::string& fileName);
int CountTiffPages(TStream& stream);

// Writes page index of sourceFile as a single-page TIFF in the source's byte
// order, copying its bytes (nothing is decoded). A source that is not TIFF
// gives an empty target; an index past the last page gives a header whose
// first IFD offset is 0. The target is written beside itself and renamed into
// place. Returns false (and leaves no target) when the source's structure is
// unusable (data far beyond its own size, entries past its end). Throws
// TFileError when a file cannot be opened or written.
bool ExtractTiffPage(const std::string& sourceFile, const std::string& targetFile, int index);
bool ExtractTiffPage(TStream& source, TStream& target, int index);

// ExtractTiffPage of page pages[k] into targets[k] for every k, from one
// walk of the chain (files: one open, and a source up to 256 MiB read in one
// go). Stops at the first page whose structure is unusable (no file is left
// for it; a stream keeps what was written, as with ExtractTiffPage); returns
// the number of targets written before it (all of them on success). Extra pages or targets beyond
// the shorter list are ignored. Throws TFileError like ExtractTiffPage; targets written before
// stay.
size_t ExtractTiffPages(TStream& source, const std::vector<int>& pages,
                        const std::vector<TStream*>& targets);
size_t ExtractTiffPages(const std::string& sourceFile, const std::vector<int>& pages,
                        const std::vector<std::string>& targetFiles);

// Whether stream holds a TIFF whose first IFD has ImageWidth and ImageLength.
// The position is restored.
bool IsTiffStream(TStream& stream);
// Whether a TIFF-structured stream is a camera raw file (DNG, CFA or linear
// raw photometric, or a small TIFF/EP preview with sub-IFDs). The position is
// restored.
bool IsTiffCameraRaw(TStream& stream);

}  // namespace folivo
