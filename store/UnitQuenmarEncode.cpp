#include "UnitQuenmarEncode.h"
