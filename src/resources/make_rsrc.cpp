// Writes a Mac resource file (the resource fork layout: header, resource data, resource map)
// holding one 'STR#' resource built from the catalogue list, one string per line.
//   make_rsrc <catalogue.txt> <out.rsrc> <resource id>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

void Put16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(uint8_t(v >> 8));
  out.push_back(uint8_t(v));
}
void Put24(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(uint8_t(v >> 16));
  Put16(out, v);
}
void Put32(std::vector<uint8_t>& out, uint32_t v) {
  Put16(out, v >> 16);
  Put16(out, v);
}

// 'STR#': a 16-bit count, then the strings, each a length byte and its characters.
std::vector<uint8_t> StringList(const std::vector<std::string>& strings) {
  std::vector<uint8_t> data;
  Put16(data, uint32_t(strings.size()));
  for (const std::string& s : strings) {
    data.push_back(uint8_t(s.size()));
    data.insert(data.end(), s.begin(), s.end());
  }
  return data;
}

std::vector<uint8_t> ResourceFile(uint32_t type, int16_t id, const std::vector<uint8_t>& resource) {
  const uint32_t kDataOffset = 256;  // after the header and the reserved system/application areas
  std::vector<uint8_t> data;
  Put32(data, uint32_t(resource.size()));
  data.insert(data.end(), resource.begin(), resource.end());

  // The map: a copy of the header, reserved handle and file reference, attributes, the
  // offsets of the type list and name list, then the type list (count - 1, one entry of
  // type, count - 1 and the reference list offset from the type list), then the reference
  // list (id, no name, attributes, data offset, reserved handle). No names follow.
  const uint32_t kTypeListOffset = 28;
  const uint32_t kTypeListSize = 2 + 8;
  const uint32_t kRefListSize = 12;
  const uint32_t mapLength = kTypeListOffset + kTypeListSize + kRefListSize;
  const uint32_t mapOffset = kDataOffset + uint32_t(data.size());

  std::vector<uint8_t> header;
  Put32(header, kDataOffset);
  Put32(header, mapOffset);
  Put32(header, uint32_t(data.size()));
  Put32(header, mapLength);

  std::vector<uint8_t> map(header);
  Put32(map, 0);  // next map handle
  Put16(map, 0);  // file reference
  Put16(map, 0);  // map attributes
  Put16(map, kTypeListOffset);
  Put16(map, mapLength);  // name list: empty, at the end of the map
  Put16(map, 0);          // one type
  Put32(map, type);
  Put16(map, 0);  // one resource of it
  Put16(map, kTypeListSize);
  Put16(map, uint16_t(id));
  Put16(map, 0xFFFF);  // no name
  map.push_back(0);    // attributes
  Put24(map, 0);       // offset of its data in the data area
  Put32(map, 0);       // reserved handle

  std::vector<uint8_t> file(header);
  file.resize(kDataOffset, 0);
  file.insert(file.end(), data.begin(), data.end());
  file.insert(file.end(), map.begin(), map.end());
  return file;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: make_rsrc catalogue.txt out.rsrc id\n");
    return 2;
  }
  std::ifstream in(argv[1]);
  if (!in) {
    std::fprintf(stderr, "make_rsrc: cannot read %s\n", argv[1]);
    return 1;
  }
  std::vector<std::string> strings;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    if (line.size() > 255) {
      std::fprintf(stderr, "make_rsrc: entry longer than 255 characters: %s\n", line.c_str());
      return 1;
    }
    strings.push_back(line);
  }
  const uint32_t kStrList = 0x53545223;  // 'STR#'
  std::vector<uint8_t> file = ResourceFile(kStrList, int16_t(std::atoi(argv[3])), StringList(strings));
  std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
  if (!out) {
    std::fprintf(stderr, "make_rsrc: cannot write %s\n", argv[2]);
    return 1;
  }
  return 0;
}
