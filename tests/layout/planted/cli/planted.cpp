// Planted: the terminal front end has no messages.
#include <QString>
#include "messages/notice.h"
