#pragma once

#include "searchd/index/IndexTypes.h"

class LibraryFolder;
class ServiceIndex;

// Brings the index's library files in line with the folder: files whose size and time are
// unchanged keep their entry (tags and quality are read only for new or changed files, and
// for files whose quality an older reading found), files gone leave; all in one change of
// the index.
namespace LibraryScan {

ScanSummary run(ServiceIndex& index, const LibraryFolder& library);

} // namespace LibraryScan
