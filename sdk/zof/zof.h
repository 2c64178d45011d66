#pragma once
// zof, the SDK's foundation library: everything at once.
#include "zof/array.h"
#include "zof/bit_array.h"
#include "zof/exceptions.h"
#include "zof/list.h"
#include "zof/memory.h"
#include "zof/rc.h"
#include "zof/rcstring.h"
#include "zof/sort.h"
#include "zof/string8.h"
#include "zof/string_base.h"
#include "zof/utf8.h"
#include "zof/win32.h"
