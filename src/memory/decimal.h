// The decimal floating-point library (IEEE 754 decimal128 in the binary-integer encoding), built for
// call by value with the rounding mode and status flags passed on each call. Its two headers must
// come in this order.
#pragma once
#include <bid_conf.h>
#include <bid_functions.h>
