#pragma once
// A cabinet that holds its file table and no data: what the stand-in's extrac32.exe "expands",
// so that the launcher's own check of the expansion reads the files the package holds.

#include <string>
#include <vector>

#include "workspace/cabinet_listing.h"

// Returns the bytes of a cabinet whose header, one folder and file table list files, in order.
std::string CabinetTableBytes(const std::vector<CabinetFile>& files);
