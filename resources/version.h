// The program's version: the one place it is set. The resource scripts and
// scripts/package (which names the zip after it) read it from here.
#ifndef FERNWOODVIEW_VERSION_H
#define FERNWOODVIEW_VERSION_H

#define FERNWOOD_VERSION_MAJOR 1
#define FERNWOOD_VERSION_MINOR 0
#define FERNWOOD_VERSION_PATCH 0

#define FERNWOOD_STRINGIZE_(text) #text
#define FERNWOOD_VERSION_JOIN_(major, minor, patch) FERNWOOD_STRINGIZE_(major.minor.patch)
// "1.0.0"
#define FERNWOOD_VERSION_TEXT \
    FERNWOOD_VERSION_JOIN_(FERNWOOD_VERSION_MAJOR, FERNWOOD_VERSION_MINOR, FERNWOOD_VERSION_PATCH)

#endif
