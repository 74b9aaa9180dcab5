// The instance record lives with the TWAIN state it mostly holds: twain/globals.h.
#pragma once
#include "twain/globals.h"
