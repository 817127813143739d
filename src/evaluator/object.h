// Objects now live with the datatypes (datatypes/object.h); this name remains for the GUI and
// console files that still include it.
#pragma once
#include "datatypes/object.h"
