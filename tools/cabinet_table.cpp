#include "tools/cabinet_table.h"

namespace {

void PutLittle(std::string* bytes, std::uint32_t value, int width) {
  for (int i = 0; i < width; ++i) bytes->push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

}  // namespace

std::string CabinetTableBytes(const std::vector<CabinetFile>& files) {
  constexpr std::uint32_t kHeaderAndFolder = 36 + 8;
  std::string table;
  for (const CabinetFile& file : files) {
    PutLittle(&table, file.size, 4);
    PutLittle(&table, 0, 4);  // offset in the folder
    PutLittle(&table, 0, 2);  // the folder
    PutLittle(&table, 0, 4);  // date and time
    PutLittle(&table, file.nameIsUtf8 ? 0x80 : 0, 2);
    table += file.name;
    table.push_back('\0');
  }
  std::string bytes = "MSCF";
  PutLittle(&bytes, 0, 4);
  PutLittle(&bytes, static_cast<std::uint32_t>(kHeaderAndFolder + table.size()), 4);
  PutLittle(&bytes, 0, 4);
  PutLittle(&bytes, kHeaderAndFolder, 4);  // where the file table starts
  PutLittle(&bytes, 0, 4);
  bytes.push_back(3);  // format version 1.3
  bytes.push_back(1);
  PutLittle(&bytes, 1, 2);  // folders
  PutLittle(&bytes, static_cast<std::uint32_t>(files.size()), 2);
  for (int field = 0; field < 3; ++field) PutLittle(&bytes, 0, 2);  // flags, set id, number in the set
  PutLittle(&bytes, kHeaderAndFolder + static_cast<std::uint32_t>(table.size()), 4);  // the folder's data
  PutLittle(&bytes, 0, 4);                                                            // no data blocks, no compression
  return bytes + table;
}
