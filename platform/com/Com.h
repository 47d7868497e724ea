// Everything of platform/com in one include.
#pragma once

#include "platform/com/Memory.h"
#include "platform/com/Runtime.h"
#include "platform/com/Text.h"
#include "platform/com/Time.h"
#include "platform/com/Types.h"
#include "platform/com/Unknown.h"
#include "platform/com/Variant.h"
