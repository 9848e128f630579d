// The disk cost's arithmetic: what each volume must take against what it has free.
#include "engine/disk_cost.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

DiskCost Cost(const char* volume, ULONGLONG bytes) {
  DiskCost cost = {};
  lstrcpynA(cost.volume, volume, sizeof(cost.volume));
  cost.bytes = bytes;
  return cost;
}

VolumeFree Space(const char* volume, ULONGLONG bytes) {
  VolumeFree space = {};
  lstrcpynA(space.volume, volume, sizeof(space.volume));
  space.bytes = bytes;
  return space;
}

TEST(DiskCost, EachVolumeTakesTheSumOfItsCosts) {
  constexpr ULONGLONG kAll = ~0ull;
  struct Row {
    const char* name;
    std::vector<DiskCost> costs;
    std::vector<VolumeFree> space;
    std::string volume;  // "" for no shortfall
    ULONGLONG shortfall;
  };
  const Row rows[] = {
      {"nothing to write", {}, {Space("C:\\", 0)}, "", 0},
      {"room to spare", {Cost("C:\\", 100), Cost("C:\\", 200)}, {Space("C:\\", 1000)}, "", 0},
      {"exactly full", {Cost("C:\\", 600), Cost("C:\\", 400)}, {Space("C:\\", 1000)}, "", 0},
      {"one byte short", {Cost("C:\\", 600), Cost("C:\\", 401)}, {Space("C:\\", 1000)}, "C:\\", 1},
      {"each cost fits, their sum does not",
       {Cost("C:\\", 700), Cost("C:\\", 700)},
       {Space("C:\\", 1000)},
       "C:\\",
       400},
      {"costs of another volume are not counted here",
       {Cost("C:\\", 700), Cost("D:\\", 700)},
       {Space("C:\\", 1000), Space("D:\\", 1000)},
       "",
       0},
      {"the other volume is short",
       {Cost("C:\\", 10), Cost("D:\\", 700), Cost("D:\\", 700)},
       {Space("C:\\", 1000), Space("D:\\", 1000)},
       "D:\\",
       400},
      {"the volume short of most is named",
       {Cost("C:\\", 1100), Cost("D:\\", 1500)},
       {Space("C:\\", 1000), Space("D:\\", 1000)},
       "D:\\",
       500},
      {"volume names compared without case",
       {Cost("c:\\", 800), Cost("C:\\", 800)},
       {Space("C:\\", 1000)},
       "C:\\",
       600},
      {"a volume whose free space is unknown holds nothing back",
       {Cost("E:\\", 5000)},
       {Space("C:\\", 10)},
       "",
       0},
      {"a sum past the largest number does not wrap round",
       {Cost("C:\\", kAll - 10), Cost("C:\\", 100)},
       {Space("C:\\", kAll - 5)},
       "C:\\",
       5},
      {"a mounted folder is its own volume",
       {Cost("C:\\mnt\\small\\", 2000), Cost("C:\\", 10)},
       {Space("C:\\", 100000), Space("C:\\mnt\\small\\", 1500)},
       "C:\\mnt\\small\\",
       500},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const DiskShortfall shortfall =
        FindDiskShortfall(row.costs.data(), static_cast<int>(row.costs.size()), row.space.data(),
                          static_cast<int>(row.space.size()));
    EXPECT_EQ(row.shortfall, shortfall.bytes);
    EXPECT_EQ(row.volume, shortfall.volume != nullptr ? shortfall.volume : "");
  }
}

}  // namespace
