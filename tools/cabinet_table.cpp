#include "tools/cabinet_table.h"

#include "common/little_endian.h"
#include "workspace/cabinet_format.h"

std::string CabinetTableBytes(const std::vector<CabinetFile>& files) {
  constexpr std::uint32_t kHeaderAndFolder = cabinet::kHeaderSize + cabinet::kFolderEntrySize;
  std::string table;
  for (const CabinetFile& file : files) {
    AppendLittle(&table, file.size, 4);
    AppendLittle(&table, 0, 4);  // offset in the folder
    AppendLittle(&table, 0, 2);  // the folder
    AppendLittle(&table, 0, 4);  // date and time
    AppendLittle(&table, file.nameIsUtf8 ? cabinet::kNameIsUtf8 : 0, 2);
    table += file.name;
    table.push_back('\0');
  }
  std::string bytes = cabinet::kSignature;
  AppendLittle(&bytes, 0, 4);
  AppendLittle(&bytes, static_cast<std::uint32_t>(kHeaderAndFolder + table.size()), 4);
  AppendLittle(&bytes, 0, 4);
  AppendLittle(&bytes, kHeaderAndFolder, 4);  // cabinet::kFileTableAt: where the file table starts
  AppendLittle(&bytes, 0, 4);
  bytes.push_back(static_cast<char>(cabinet::kMinorVersion));
  bytes.push_back(static_cast<char>(cabinet::kMajorVersion));
  AppendLittle(&bytes, 1, 2);  // folders
  AppendLittle(&bytes, static_cast<std::uint32_t>(files.size()), 2);
  for (int field = 0; field < 3; ++field) AppendLittle(&bytes, 0, 2);  // flags, set id, number in the set
  AppendLittle(&bytes, kHeaderAndFolder + static_cast<std::uint32_t>(table.size()), 4);  // the folder's data
  AppendLittle(&bytes, 0, 4);  // no data blocks, no compression
  return bytes + table;
}
