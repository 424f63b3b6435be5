// UTF-8 inside, UTF-16 at the Windows call: the one pair of conversions now
// lives in base/text.h; this name stays for the files that include it.
#pragma once

#include "base/text.h"
