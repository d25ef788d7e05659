// Planted: command/ beside discovery/.
#include "discovery/device_list.h"
#include "json/json_document.h"
