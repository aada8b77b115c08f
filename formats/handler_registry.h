// Builds the HandlerList: one handler of every format, in the fixed order
// that decides ties in detection. Adding a format touches its own folder and
// one line here.
#pragma once

class FormatHandler;

// Creates the fourteen handlers in registry order and returns the head; a
// handler that cannot be allocated is left out.
FormatHandler* buildHandlerList();
