# Sourced by the test, demo and bench scripts: which Wine runs this machine's Windows programs, and
# so which build tree they use. The shipped Updater.exe is the 32-bit (i686) build in build/, which
# runs under 32-bit Wine. Some kernels have 32-bit support switched off, and 32-bit Wine cannot
# start there; then the same sources are built as 64-bit Windows programs in build-x64/ and run
# under 64-bit Wine.
#   wine_bits    32 or 64
#   wine_preset  the CMake preset of the build tree that runs under Wine
#   wine_build   that build tree, relative to the repository
if /usr/lib/wine/wine --version >/dev/null 2>&1; then
  wine_bits=32
  wine_preset=mingw-i686
  wine_build=build
else
  wine_bits=64
  wine_preset=mingw-x86_64-tests
  wine_build=build-x64
fi
