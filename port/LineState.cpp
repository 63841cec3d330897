#include "port/LineState.h"

LineState g_lines;
