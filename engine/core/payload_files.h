// The new release's ten setup files that the updater carries, in the order it extracts them, each
// with the number of the "ZELNA" resource that holds it scrambled. A plain header (no windows.h):
// the updater, the build machine's packer and inspector and the tests read this one table, and
// cmake/PayloadFiles.cmake reads the names and numbers from it for the build.
#ifndef ENGINE_CORE_PAYLOAD_FILES_H_
#define ENGINE_CORE_PAYLOAD_FILES_H_

struct PayloadFile {
  const char* fileName;
  unsigned short resourceId;
};

constexpr PayloadFile kPayloadFiles[] = {
    {"_Setup.dll", 136},  {"data1.cab", 137},  {"data1.hdr", 138}, {"data2.cab", 139},
    {"ISSetup.dll", 140}, {"layout.bin", 141}, {"Setup.bmp", 142}, {"setup.exe", 143},
    {"setup.ini", 144},   {"setup.inx", 145},
};
constexpr int kPayloadFileCount =
    static_cast<int>(sizeof(kPayloadFiles) / sizeof(kPayloadFiles[0]));

#endif  // ENGINE_CORE_PAYLOAD_FILES_H_
