// Helper of the product probe's tests: exits with 10 + IsSupportedWindows(), so that a test can
// run the operating-system gate under a Windows version reported to this program alone.
#include "engine/product_probe.h"

int main() { return 10 + IsSupportedWindows(); }
