// A core header that reaches up into the rules: the check must refuse it.
#pragma once

#include "hoppers/hits.h"
