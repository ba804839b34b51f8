// SPDX-License-Identifier: Apache-2.0
// Built only by the EngineInternalsStayInside test, which expects the
// build to fail: a program outside the engine that includes an internal
// header must not compile.

#include "jet/storage/pager.h"

int main() { return 0; }
