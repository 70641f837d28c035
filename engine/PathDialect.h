#pragma once

#include "platform/Internet.h"

// Whether the server names directories the way backup and restore rely on: "7.0/access2" (or
// "7.0" when that tree is absent) is reported back in the form entered, and "7.0" lists the
// marker that "7.1/safe" names. False, with a log line saying what the server answered,
// otherwise; nothing on the server is changed either way.
bool serverFollowsPathDialect(CFtpConnection* connection);
