// Planted: protocol/ reaching up into the window.
#include "app/base_frame.h"
