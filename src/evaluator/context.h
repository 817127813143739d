// Contexts now live with the datatypes (datatypes/context.h); this name remains for the GUI
// and console files that still include it.
#pragma once
#include "datatypes/context.h"
