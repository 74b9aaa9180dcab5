// The reader is checked against resource files assembled here byte by byte, following the
// classic layout, independently of any writer in the project.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "CarbonStandin.h"

namespace {

using Bytes = std::vector<unsigned char>;

void Be(Bytes& b, UInt32 v, int n) {
  for (int i = n - 1; i >= 0; --i) b.push_back(static_cast<unsigned char>(v >> (8 * i)));
}
void SetBe(Bytes& b, size_t at, UInt32 v, int n) {
  for (int i = 0; i < n; ++i) b[at + i] = static_cast<unsigned char>(v >> (8 * (n - 1 - i)));
}

Bytes StrList(std::initializer_list<const char*> strings) {
  Bytes d;
  Be(d, static_cast<UInt32>(strings.size()), 2);
  for (const char* s : strings) {
    d.push_back(static_cast<unsigned char>(std::strlen(s)));
    d.insert(d.end(), s, s + std::strlen(s));
  }
  return d;
}

struct Res {
  ResType type;
  SInt16 id;
  Bytes data;
  const char* name;
};

// One type list entry per distinct type, in first-seen order; resources of a type must be
// adjacent in `list`. The data area starts at 256, as files written by the system do.
Bytes ResourceFile(const std::vector<Res>& list) {
  Bytes data;
  std::vector<UInt32> offsets;
  for (const Res& r : list) {
    offsets.push_back(static_cast<UInt32>(data.size()));
    Be(data, static_cast<UInt32>(r.data.size()), 4);
    data.insert(data.end(), r.data.begin(), r.data.end());
  }
  std::vector<std::pair<ResType, int>> types;
  for (const Res& r : list) {
    if (types.empty() || types.back().first != r.type) types.push_back({r.type, 0});
    types.back().second++;
  }
  Bytes map(28, 0);
  Bytes typeList;
  Be(typeList, static_cast<UInt32>(types.size() - 1), 2);
  size_t refStart = 2 + types.size() * 8;
  size_t refAt = refStart;
  for (auto& t : types) {
    Be(typeList, t.first, 4);
    Be(typeList, t.second - 1, 2);
    Be(typeList, static_cast<UInt32>(refAt), 2);
    refAt += 12 * t.second;
  }
  Bytes names;
  for (size_t i = 0; i < list.size(); ++i) {
    const Res& r = list[i];
    Be(typeList, static_cast<UInt16>(r.id), 2);
    if (r.name) {
      Be(typeList, static_cast<UInt32>(names.size()), 2);
      names.push_back(static_cast<unsigned char>(std::strlen(r.name)));
      names.insert(names.end(), r.name, r.name + std::strlen(r.name));
    } else {
      Be(typeList, 0xFFFF, 2);
    }
    typeList.push_back(0);  // attributes
    Be(typeList, offsets[i], 3);
    Be(typeList, 0, 4);
  }
  SetBe(map, 24, 28, 2);
  SetBe(map, 26, static_cast<UInt32>(28 + typeList.size()), 2);
  map.insert(map.end(), typeList.begin(), typeList.end());
  map.insert(map.end(), names.begin(), names.end());

  Bytes file;
  UInt32 dataOff = 256, mapOff = dataOff + static_cast<UInt32>(data.size());
  Be(file, dataOff, 4);
  Be(file, mapOff, 4);
  Be(file, static_cast<UInt32>(data.size()), 4);
  Be(file, static_cast<UInt32>(map.size()), 4);
  file.resize(256, 0);
  file.insert(file.end(), data.begin(), data.end());
  for (int i = 0; i < 16; ++i) map[i] = file[i];  // the map begins with a copy of the header
  file.insert(file.end(), map.begin(), map.end());
  return file;
}

std::string Write(const Bytes& b) {
  char path[] = "/tmp/kv-carbon-rsrc-XXXXXX";
  int fd = mkstemp(path);
  EXPECT_GE(fd, 0);
  EXPECT_EQ(write(fd, b.data(), b.size()), static_cast<ssize_t>(b.size()));
  close(fd);
  return path;
}

std::string Text(const Str255 s) { return std::string(reinterpret_cast<const char*>(s + 1), s[0]); }

constexpr ResType kSTRn = 0x53545223, kTEXT = 0x54455854;

class Resources : public ::testing::Test {
 protected:
  SInt16 Open(const Bytes& b) {
    std::string path = Write(b);
    paths_.push_back(path);
    return OpenResFileAtPath(path.c_str());
  }
  void TearDown() override {
    for (auto& p : paths_) unlink(p.c_str());
  }
  std::vector<std::string> paths_;
};

TEST_F(Resources, GetIndStringReadsEntriesOfAStringList) {
  SInt16 ref =
      Open(ResourceFile({{kTEXT, 1, {'x', 'y'}, "note"},
                         {kSTRn, 128, StrList({"other"}), nullptr},
                         {kSTRn, 16543, StrList({"Twain.About():1", "", "Twain.Connect():2"}), "catalogue"}}));
  ASSERT_GT(ref, 0);
  EXPECT_EQ(ResError(), noErr);
  EXPECT_EQ(CurResFile(), ref);
  Str255 s;
  GetIndString(s, 16543, 1);
  EXPECT_EQ(Text(s), "Twain.About():1");
  GetIndString(s, 16543, 2);
  EXPECT_EQ(Text(s), "");
  GetIndString(s, 16543, 3);
  EXPECT_EQ(Text(s), "Twain.Connect():2");
  for (SInt16 index : {0, 4, -1}) {
    GetIndString(s, 16543, index);
    EXPECT_EQ(s[0], 0) << index;
  }
  GetIndString(s, 999, 1);
  EXPECT_EQ(s[0], 0);
  EXPECT_EQ(ResError(), resNotFound);
  CloseResFile(ref);
  GetIndString(s, 16543, 1);
  EXPECT_EQ(s[0], 0);
}

TEST_F(Resources, HandlesAreSharedReleasedAndNotCountedAsLeaks) {
  long handles = CarbonStandin_LiveHandles();
  SInt16 ref = Open(ResourceFile({{kTEXT, 5, {'a', 'b', 'c'}, nullptr}}));
  ASSERT_GT(ref, 0);
  Handle h = Get1Resource(kTEXT, 5);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(GetHandleSize(h), 3);
  EXPECT_EQ(std::memcmp(*h, "abc", 3), 0);
  EXPECT_EQ(GetResource(kTEXT, 5), h);
  EXPECT_EQ(CarbonStandin_LiveHandles(), handles);
  EXPECT_DEATH(DisposeHandle(h), "DisposeHandle\\(\\): .* is a resource");  // not the caller's to dispose
  ReleaseResource(h);
  EXPECT_EQ(Get1Resource(kTEXT, 6), nullptr);
  EXPECT_EQ(ResError(), resNotFound);
  CloseResFile(ref);
}

TEST_F(Resources, SearchOrderFollowsTheChainFromTheCurrentFile) {
  SInt16 older = Open(ResourceFile({{kTEXT, 1, {'o'}, nullptr}, {kTEXT, 2, {'O'}, nullptr}}));
  SInt16 newer = Open(ResourceFile({{kTEXT, 1, {'n'}, nullptr}}));
  ASSERT_GT(older, 0);
  ASSERT_GT(newer, 0);
  EXPECT_EQ(**GetResource(kTEXT, 1), 'n');
  EXPECT_EQ(**GetResource(kTEXT, 2), 'O');  // found further down the chain
  EXPECT_EQ(Get1Resource(kTEXT, 2), nullptr);
  UseResFile(older);
  EXPECT_EQ(**GetResource(kTEXT, 1), 'o');
  UseResFile(newer);
  CloseResFile(newer);
  EXPECT_EQ(CurResFile(), older);
  CloseResFile(older);
}

TEST_F(Resources, DamagedOrMissingFilesAreRefused) {
  EXPECT_EQ(OpenResFileAtPath("/nonexistent/file.rsrc"), -1);
  EXPECT_EQ(ResError(), fnfErr);
  Bytes good = ResourceFile({{kSTRn, 1, StrList({"a"}), nullptr}});
  Bytes shortFile(good.begin(), good.begin() + 10);
  EXPECT_EQ(Open(shortFile), -1);
  EXPECT_EQ(ResError(), mapReadErr);
  Bytes badMap = good;
  SetBe(badMap, 4, 0x7FFFFFF0, 4);  // map offset past the end
  EXPECT_EQ(Open(badMap), -1);
  Bytes badData = good;
  SetBe(badData, 256, 0x00FFFFFF, 4);  // the resource claims more bytes than the data holds
  EXPECT_EQ(Open(badData), -1);
  Bytes truncatedList = ResourceFile({{kSTRn, 2, {0x00, 0x02, 0x03, 'a', 'b', 'c', 0x09, 'x'}, nullptr}});
  SInt16 ref = Open(truncatedList);
  ASSERT_GT(ref, 0);
  Str255 s;
  GetIndString(s, 2, 2);  // declares nine characters, holds one
  EXPECT_EQ(Text(s), "x");
  CloseResFile(ref);
}

}  // namespace
