// The record of this process's run, bound to the program's one picture
// control. Built into every program that is put together from the picture
// control and the run's record (the setup, the makers' picture tool, the tests),
// so that neither library needs the other's definitions.
#include "picture/animated_picture_wnd.h"
#include "setup/setup_state.h"

SetupState g_setup{nullptr, {}, {}, {}, {}, 0, true, false, 0, 0, nullptr, g_pictureControl};
