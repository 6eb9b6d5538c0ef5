// Keeping the PC awake and its shutdown told while something is due.
#ifndef FERNWOODVIEW_KEEP_AWAKE_H
#define FERNWOODVIEW_KEEP_AWAKE_H

// Asks Windows to stay awake while a recording runs or a scheduled start
// waits, and names the recording on the shutdown screen; releases both
// when nothing is due. Called after every change of either.
void UpdateKeepAwake();

#endif
