// Planted: a header without its folder.
#include "notice.h"
#include "protocol/config_commands.h"
#include "ui_planted.h"
