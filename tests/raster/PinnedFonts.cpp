// Linked into every test program that draws text: points fontconfig at the tests' own
// configuration before anything in the process asks it for a font.
#include <cstdlib>

namespace {

const bool g_bPinned = setenv("FONTCONFIG_FILE", PELLIX_TEST_FONTS_CONF, 1) == 0;

} // namespace
